#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/UserFolders.h"

namespace plat {

namespace {

std::string Home() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  if (entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return ".";
}

// $variable when it holds an absolute path (the base directory rules ignore a relative one),
// otherwise the fallback under the home folder.
std::string BaseFolder(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  return Home() + "/" + underHome;
}

}  // namespace

std::string UserConfigFolder() {
  return BaseFolder("XDG_CONFIG_HOME", ".config") + "/zv8810-fwu/";
}

std::string UserDataFolder() {
  return BaseFolder("XDG_DATA_HOME", ".local/share") + "/zv8810-fwu/";
}

bool IsInstalledProgramFolder(const std::string& folder) {
  return folder == "/usr" || folder.rfind("/usr/", 0) == 0;
}

bool CanCreateFileIn(const std::string& folder) {
  // The real user's rights, and a file system mounted read-only (EROFS), as an open would see.
  return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool CanWriteFile(const std::string& path) {
  return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace plat
