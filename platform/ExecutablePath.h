#pragma once

#include <string>

namespace plat {

// The running executable's real path (symbolic links resolved); empty when it cannot be told.
std::string ExecutablePath();

}  // namespace plat
