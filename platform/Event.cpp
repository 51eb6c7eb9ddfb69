#include "platform/Event.h"

#include <algorithm>
#include <chrono>

namespace plat {

void TStopSignal::Request() {
  requested_ = true;
  std::lock_guard<std::mutex> lock(lock_);
  // The watchers unwatch under this lock before they return, so each one is still alive here.
  for (TEvent* event : watchers_) event->Poke();
  sleeping_.notify_all();
}

bool TStopSignal::SleepFor(int milliseconds) {
  std::unique_lock<std::mutex> lock(lock_);
  return !sleeping_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return requested_.load(); });
}

void TStopSignal::Watch(TEvent* event) {
  std::lock_guard<std::mutex> lock(lock_);
  watchers_.push_back(event);
}

void TStopSignal::Unwatch(TEvent* event) {
  std::lock_guard<std::mutex> lock(lock_);
  watchers_.erase(std::find(watchers_.begin(), watchers_.end(), event));
}

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

void TEvent::Poke() {
  // Taking the lock orders the poke after a waiter's last look at the stop request.
  std::lock_guard<std::mutex> lock(mutex_);
  cond_.notify_all();
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

TEvent::TWait TEvent::Wait(int milliseconds, TStopSignal& stop) {
  stop.Watch(this);
  TWait outcome = TWait::Signalled;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return set_ || stop.Requested(); };
    if (milliseconds < 0)
      cond_.wait(lock, ready);
    else
      cond_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    if (stop.Requested())
      outcome = TWait::Stopped;
    else if (!set_)
      outcome = TWait::TimedOut;
    else if (mode_ == ResetMode::Auto)
      set_ = false;
  }
  stop.Unwatch(this);
  return outcome;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

}  // namespace plat
