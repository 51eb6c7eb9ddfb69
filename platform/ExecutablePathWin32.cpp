#include <windows.h>

#include <vector>

#include "platform/ExecutablePath.h"

namespace plat {

std::string ExecutablePath() {
  // GetModuleFileNameA fills the buffer to the brim when the path does not fit: grow and ask again.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace plat
