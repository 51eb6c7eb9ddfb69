#include <windows.h>

#include <cstdio>

#include "platform/TimeStamp.h"

namespace plat {

char TimeSeparator() {
  char separator[8] = {};
  // LOCALE_STIME: the user's time separator as a short text (":" in most locales, "." in some).
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) <= 1)
    return ':';
  return separator[0];
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  localtime_s(&local, &moment);
  return local;
}

std::string TimeStamp() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  char sep = TimeSeparator();
  char text[16];
  std::snprintf(text, sizeof text, "%02u%c%02u%c%02u", static_cast<unsigned>(local.wHour), sep,
                static_cast<unsigned>(local.wMinute), sep, static_cast<unsigned>(local.wSecond));
  return text;
}

}  // namespace plat
