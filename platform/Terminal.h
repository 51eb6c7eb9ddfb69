#pragma once

#include <cstdio>

namespace plat {

// True when the stream is an interactive terminal (a console window on Windows), where a line
// may be rewritten in place.
bool IsTerminal(std::FILE* stream);

}  // namespace plat
