// One process-wide timer queue: every timer's callback runs on the queue's single thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace plat {

class TTimerQueue {
 public:
  using TimerId = std::uint64_t;

  static TTimerQueue& Instance();

  // A timer first fires dueMs after creation, then every periodMs (0: once).
  TimerId Create(std::function<void()> callback, std::int64_t dueMs, std::int64_t periodMs);
  // Re-times a timer; the countdown starts now.
  void Change(TimerId id, std::int64_t dueMs, std::int64_t periodMs);
  // Removes a timer. Waits for a running callback of it to return, unless called from that
  // callback (then it returns at once and the callback is never called again).
  void Delete(TimerId id);

  bool OnTimerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  TTimerQueue();
  ~TTimerQueue();
  TTimerQueue(const TTimerQueue&) = delete;
  TTimerQueue& operator=(const TTimerQueue&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::function<void()> callback;
    Clock::time_point due;
    std::int64_t periodMs;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable callbackDone_;
  std::map<TimerId, Timer> timers_;
  TimerId nextId_ = 1;
  TimerId running_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace plat
