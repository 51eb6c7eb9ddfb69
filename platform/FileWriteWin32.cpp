#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/FileWrite.h"

namespace plat {

bool WriteFileWhole(const std::string& path, const std::string& text) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::exists(status)) {
    if (!std::filesystem::is_regular_file(status)) return false;
    if ((status.permissions() & std::filesystem::perms::owner_write) ==
        std::filesystem::perms::none)
      return false;  // a read-only settings file stays untouched
  }
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    out.flush();
    if (!out) {
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  // std::filesystem::rename replaces an existing file (std::rename refuses to on Windows).
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace plat
