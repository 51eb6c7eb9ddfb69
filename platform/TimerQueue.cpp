#include "platform/TimerQueue.h"

namespace plat {

TTimerQueue& TTimerQueue::Instance() {
  static TTimerQueue queue;
  return queue;
}

TTimerQueue::TTimerQueue() : thread_([this] { Run(); }) {}

TTimerQueue::~TTimerQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

TTimerQueue::TimerId TTimerQueue::Create(std::function<void()> callback, std::int64_t dueMs,
                                         std::int64_t periodMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  TimerId id = nextId_++;
  timers_[id] =
      Timer{std::move(callback), Clock::now() + std::chrono::milliseconds(dueMs), periodMs};
  wake_.notify_all();
  return id;
}

void TTimerQueue::Change(TimerId id, std::int64_t dueMs, std::int64_t periodMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.due = Clock::now() + std::chrono::milliseconds(dueMs);
  it->second.periodMs = periodMs;
  wake_.notify_all();
}

void TTimerQueue::Delete(TimerId id) {
  std::unique_lock<std::mutex> lock(mutex_);
  timers_.erase(id);
  if (OnTimerThread()) return;
  callbackDone_.wait(lock, [&] { return running_ != id; });
}

void TTimerQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (next == timers_.end() || it->second.due < next->second.due) next = it;
    if (next == timers_.end()) {
      wake_.wait(lock);
      continue;
    }
    if (Clock::now() < next->second.due) {
      const Clock::time_point due = next->second.due;  // the timer may go while we wait
      wake_.wait_until(lock, due);
      continue;
    }
    TimerId id = next->first;
    Timer& timer = next->second;
    std::function<void()> callback = timer.callback;
    if (timer.periodMs > 0)
      timer.due = Clock::now() + std::chrono::milliseconds(timer.periodMs);
    else
      timers_.erase(next);
    running_ = id;
    lock.unlock();
    callback();
    lock.lock();
    running_ = 0;
    callbackDone_.notify_all();
  }
}

}  // namespace plat
