// A UI thread of our own for front ends without a toolkit (the command line, tests): calls
// posted from any thread run in order on the thread that runs the queue.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TCallQueue {
 public:
  TCallQueue() : owner_(std::this_thread::get_id()) {}

  // Queues fn without waiting.
  void Post(std::function<void()> fn);
  // Runs fn on the queue's thread and returns when it has run (at once on that thread).
  void Invoke(const std::function<void()>& fn);
  // Runs queued calls until done() holds (checked after each call and every 100 ms).
  void RunUntil(const std::function<bool()>& done);

 private:
  std::thread::id owner_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
};
