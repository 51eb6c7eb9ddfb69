#include "device/UtcClock.h"

#include <cstdio>

namespace sim {

using namespace std::chrono;

TUtcClock::TUtcClock(std::optional<UtcTime> start)
    : start_(start), startedAt_(steady_clock::now()) {}

UtcTime TUtcClock::Now() const {
  if (!start_) return system_clock::now();
  return *start_ + duration_cast<system_clock::duration>(steady_clock::now() - startedAt_);
}

bool ParseUtcStart(const std::string& text, UtcTime& start) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &consumed) !=
          6 ||
      consumed != 19)
    return false;
  int hundredths = 0;
  const std::string rest = text.substr(static_cast<std::size_t>(consumed));
  if (!rest.empty()) {
    if (rest.size() != 3 || rest[0] != '.' || rest[1] < '0' || rest[1] > '9' || rest[2] < '0' ||
        rest[2] > '9')
      return false;
    hundredths = (rest[1] - '0') * 10 + (rest[2] - '0');
  }
  const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                            day{static_cast<unsigned>(d)}};
  if (y < 1970 || !date.ok() || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0)
    return false;
  start = sys_days{date} + hours{h} + minutes{mi} + seconds{s} + milliseconds{hundredths * 10};
  return true;
}

TNmeaClock NmeaClockOf(UtcTime time) {
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const auto sinceMidnight = floor<milliseconds>(time - day).count();
  const long long hundredths = sinceMidnight / 10;
  char timeText[32], dateText[16];
  std::snprintf(timeText, sizeof timeText, "%02lld%02lld%02lld.%02lld", hundredths / 360000,
                hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
  std::snprintf(dateText, sizeof dateText, "%02u%02u%02d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()) % 100);
  return {timeText, dateText};
}

}  // namespace sim
