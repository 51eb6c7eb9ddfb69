#include "cli/IsoTime.h"

#include <cstdio>
#include <ctime>

#include "platform/TimeStamp.h"

namespace {

// The seconds since 1970 that the calendar time would be if it were UTC.
long long SecondsAsIfUtc(const std::tm& t) {
  // Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
  const long long year = t.tm_year + 1900LL - (t.tm_mon < 2);
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long month = t.tm_mon + 1;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long long days = era * 146097 + dayOfEra - 719468;
  return ((days * 24 + t.tm_hour) * 60 + t.tm_min) * 60 + t.tm_sec;
}

}  // namespace

std::string IsoTime(std::time_t when) {
  const std::tm local = plat::LocalTime(when);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  // The offset from UTC is what the local time is ahead of `when`: strftime's %z cannot be
  // used, since the Windows runtime writes the zone's name there.
  const long offset = static_cast<long>(SecondsAsIfUtc(local) - static_cast<long long>(when));
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text + std::string(zone);
}
