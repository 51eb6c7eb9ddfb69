#include <langinfo.h>
#include <cstdio>
#include <ctime>

#include "platform/TimeStamp.h"

namespace plat {

char TimeSeparator() {
  const char* format = nl_langinfo(T_FMT);
  if (format == nullptr) return ':';
  // The separator is what follows the hour directive ("%H:%M:%S", "%H.%M.%S", "%I:%M:%S %p").
  for (const char* p = format; p[0] != '\0' && p[1] != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 'H' || p[1] == 'I' || p[1] == 'k' || p[1] == 'l')) {
      char next = p[2];
      if (next != '\0' && next != '%') return next;
      return ':';
    }
  }
  return ':';
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char sep = TimeSeparator();
  char text[16];
  std::snprintf(text, sizeof text, "%02d%c%02d%c%02d", local.tm_hour, sep, local.tm_min, sep,
                local.tm_sec);
  return text;
}

}  // namespace plat
