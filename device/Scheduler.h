// Timed actions of the device's single event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace sim {

using Clock = std::chrono::steady_clock;

class TScheduler {
 public:
  // Runs action after delayMs unless the generation changes first (Invalidate).
  void After(std::int64_t delayMs, std::function<void()> action);
  // Drops every pending action (a state change: restart, power cycle).
  void Invalidate() { actions_.clear(); }
  void RunDue();
  void At(Clock::time_point when, std::function<void()> action);
  // Microseconds until the next action, or -1 when none is pending.
  std::int64_t NextTimeoutUs() const;

 private:
  std::multimap<Clock::time_point, std::function<void()>> actions_;
};

}  // namespace sim
