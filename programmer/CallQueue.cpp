#include "programmer/CallQueue.h"

#include <chrono>

void TCallQueue::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::move(fn));
  }
  changed_.notify_all();
}

void TCallQueue::Invoke(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == owner_) {
    fn();
    return;
  }
  std::mutex doneLock;
  std::condition_variable doneChanged;
  bool done = false;
  Post([&] {
    fn();
    std::lock_guard<std::mutex> guard(doneLock);
    done = true;
    doneChanged.notify_all();
  });
  std::unique_lock<std::mutex> wait(doneLock);
  doneChanged.wait(wait, [&] { return done; });
}

void TCallQueue::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    std::function<void()> call;
    {
      std::unique_lock<std::mutex> guard(lock_);
      if (calls_.empty())
        changed_.wait_for(guard, std::chrono::milliseconds(100),
                          [this] { return !calls_.empty(); });
      if (calls_.empty()) continue;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
}
