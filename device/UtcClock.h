// The receiver's UTC clock: the host's UTC time, or a fixed start (for repeatable runs) that
// advances with real time from the moment the simulator starts.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace sim {

using UtcTime = std::chrono::system_clock::time_point;

class TUtcClock {
 public:
  // Without a start the clock is the host's UTC time.
  explicit TUtcClock(std::optional<UtcTime> start = std::nullopt);
  UtcTime Now() const;

 private:
  std::optional<UtcTime> start_;
  std::chrono::steady_clock::time_point startedAt_;
};

// "YYYY-MM-DDThh:mm:ss" with optional hundredths (".ss"), a valid UTC date and time.
bool ParseUtcStart(const std::string& text, UtcTime& start);

// The NMEA fields of a time: "hhmmss.ss" (hundredths, truncated) and "ddmmyy".
struct TNmeaClock {
  std::string Time;
  std::string Date;
};
TNmeaClock NmeaClockOf(UtcTime time);

}  // namespace sim
