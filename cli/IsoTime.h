// The reports' time stamps.
#pragma once

#include <ctime>
#include <string>

// "2026-12-10T15:31:33+01:00": local time with its offset from UTC.
std::string IsoTime(std::time_t when);
