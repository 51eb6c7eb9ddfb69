// Events with the two reset meanings the engine's waits rely on.
#pragma once

#include <condition_variable>
#include <mutex>

namespace plat {

class TEvent {
 public:
  enum class ResetMode { Auto, Manual };

  TEvent(ResetMode mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  // Waits until the event is set; an auto-reset event is consumed by the wait that sees it.
  // A negative time waits without limit. Returns false on time-out.
  bool Wait(int milliseconds);
  bool IsSet() const;

 private:
  const ResetMode mode_;
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  bool set_;
};

}  // namespace plat
