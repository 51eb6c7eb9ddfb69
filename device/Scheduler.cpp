#include "device/Scheduler.h"

namespace sim {

void TScheduler::After(std::int64_t delayMs, std::function<void()> action) {
  actions_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), std::move(action));
}

void TScheduler::At(Clock::time_point when, std::function<void()> action) {
  actions_.emplace(when, std::move(action));
}

void TScheduler::RunDue() {
  while (!actions_.empty() && actions_.begin()->first <= Clock::now()) {
    auto action = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    action();  // may schedule or invalidate
  }
}

std::int64_t TScheduler::NextTimeoutUs() const {
  if (actions_.empty()) return -1;
  auto wait =
      std::chrono::duration_cast<std::chrono::microseconds>(actions_.begin()->first - Clock::now());
  return wait.count() < 0 ? 0 : wait.count();
}

}  // namespace sim
