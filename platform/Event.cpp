#include "platform/Event.h"

#include <chrono>

namespace plat {

void TEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  if (mode_ == ResetMode::Auto)
    cond_.notify_one();
  else
    cond_.notify_all();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool TEvent::Wait(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (milliseconds < 0) {
    cond_.wait(lock, [this] { return set_; });
  } else if (!cond_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return set_; })) {
    return false;
  }
  if (mode_ == ResetMode::Auto) set_ = false;
  return true;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

}  // namespace plat
