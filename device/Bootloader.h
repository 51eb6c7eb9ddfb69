// The bootloader's upload: after its greeting is answered with 0xCC it takes the 4-byte length,
// the 4-byte byte sum and the image, refuses a wrong sum or a length that does not fit RAM, and
// starts the processor at the image's first byte.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class TUploadReceiver {
 public:
  enum class TResult { More, Loaded, Refused };

  explicit TUploadReceiver(std::uint32_t capacity) : capacity_(capacity) {}
  void Reset();
  // Takes one byte; Loaded when the image is complete and its sum holds.
  TResult Push(std::uint8_t byte);
  const std::vector<std::uint8_t>& Image() const { return image_; }
  const char* RefusalReason() const { return reason_; }

 private:
  std::uint32_t capacity_;
  std::uint8_t header_[8] = {};
  std::uint32_t headerCount_ = 0;
  std::uint32_t length_ = 0, sum_ = 0;
  std::vector<std::uint8_t> image_;
  const char* reason_ = "";
};

}  // namespace sim
