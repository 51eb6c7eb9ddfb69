#include "device/Bootloader.h"

namespace sim {

void TUploadReceiver::Reset() {
  headerCount_ = 0;
  image_.clear();
  reason_ = "";
}

TUploadReceiver::TResult TUploadReceiver::Push(std::uint8_t byte) {
  if (headerCount_ < 8) {
    header_[headerCount_++] = byte;
    if (headerCount_ < 8) return TResult::More;
    length_ = sum_ = 0;
    for (int i = 3; i >= 0; --i) {
      length_ = length_ << 8 | header_[i];
      sum_ = sum_ << 8 | header_[4 + i];
    }
    if (length_ == 0 || length_ > capacity_) {
      reason_ = "the announced length does not fit RAM";
      return TResult::Refused;
    }
    image_.reserve(length_);
    return TResult::More;
  }
  image_.push_back(byte);
  if (image_.size() < length_) return TResult::More;
  std::uint32_t sum = 0;
  for (std::uint8_t b : image_) sum += b;
  if (sum != sum_) {
    reason_ = "the image's sum is wrong";
    return TResult::Refused;
  }
  return TResult::Loaded;
}

}  // namespace sim
