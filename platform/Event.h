// Events with the two reset meanings the engine's waits rely on, and the stop request that
// those waits also wake on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace plat {

class TEvent;

// A stop request: once raised it stays raised, and every wait that watches it wakes at once.
class TStopSignal {
 public:
  TStopSignal() = default;
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  void Request();
  bool Requested() const { return requested_.load(); }
  // Sleeps for the time unless a stop is requested first; false when stopped.
  bool SleepFor(int milliseconds);

 private:
  friend class TEvent;
  void Watch(TEvent* event);
  void Unwatch(TEvent* event);

  std::atomic<bool> requested_{false};
  std::mutex lock_;  // taken before an event's own lock, never after it
  std::condition_variable sleeping_;
  std::vector<TEvent*> watchers_;
};

class TEvent {
 public:
  enum class ResetMode { Auto, Manual };
  enum class TWait { Signalled, TimedOut, Stopped };

  TEvent(ResetMode mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  // Waits until the event is set; an auto-reset event is consumed by the wait that sees it.
  // A negative time waits without limit. Returns false on time-out.
  bool Wait(int milliseconds);
  // The same wait, which also ends when stop is requested (an event set at that moment is left
  // set for whoever looks next).
  TWait Wait(int milliseconds, TStopSignal& stop);
  bool IsSet() const;

 private:
  friend class TStopSignal;
  void Poke();

  const ResetMode mode_;
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  bool set_;
};

}  // namespace plat
