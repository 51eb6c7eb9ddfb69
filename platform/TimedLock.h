// A lock whose every acquisition is bounded in time (the output ring's lock). Built on a mutex
// and a condition variable, so the sanitizers follow it like any other lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

class TTimedLock {
 public:
  bool TryLockFor(int milliseconds) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!cond_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return !held_; }))
      return false;
    held_ = true;
    return true;
  }
  void Unlock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      held_ = false;
    }
    cond_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  bool held_ = false;
};

}  // namespace plat
