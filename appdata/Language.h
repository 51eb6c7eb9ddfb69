// The language of every text shown to the operator.
#pragma once

#include <atomic>
#include <string>

// False until the settings are read; then true exactly when the setting "Lang" is 1.
extern std::atomic<bool> IsRussian;

// The text of the current language.
inline const char* Tr(const char* russian, const char* english) {
  return IsRussian ? russian : english;
}
