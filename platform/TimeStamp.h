#pragma once

#include <ctime>
#include <string>

namespace plat {

// The current local time as "hh:mm:ss" (hours 00 to 23), with the locale's time separator.
std::string TimeStamp();
// The separator of the current LC_TIME locale (':' when it cannot be told).
char TimeSeparator();
// The local broken-down time of a moment (thread-safe).
std::tm LocalTime(std::time_t moment);

}  // namespace plat
