// Reports and backups: a new file under a temporary name, renamed over the final one when whole.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include "platform/FileWrite.h"

namespace plat {

namespace {

bool FlushToDisk(std::FILE* file) {
#ifdef _WIN32
  return ::_commit(::_fileno(file)) == 0;
#else
  return ::fsync(::fileno(file)) == 0;
#endif
}

}  // namespace

bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string& reason) {
  // The process id keeps two programs writing the same name apart.
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fflush(file) == 0 && ok;
  ok = FlushToDisk(file) && ok;  // on the disk before it takes the final name
  if (!ok) reason = std::strerror(errno);
  if (std::fclose(file) != 0 && ok) {
    reason = std::strerror(errno);
    ok = false;
  }
  std::error_code renamed;
  if (ok) std::filesystem::rename(temporary, path, renamed);  // replaces on every system
  if (renamed) {
    reason = renamed.message();
    ok = false;
  }
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

}  // namespace plat
