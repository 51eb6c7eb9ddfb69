#include <filesystem>

#include "platform/ExecutablePath.h"

namespace plat {

std::string ExecutablePath() {
  std::error_code ec;
  auto path = std::filesystem::canonical("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

}  // namespace plat
