#include "appdata/Language.h"

std::atomic<bool> IsRussian{false};
