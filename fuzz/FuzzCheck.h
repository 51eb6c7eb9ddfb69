// A property a fuzz target checks: when it does not hold, the input is reported as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define ZV_FUZZ_CHECK(condition)                                                            \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
