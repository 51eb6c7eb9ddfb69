#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/UserFolders.h"

namespace plat {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

// %variable%, or the profile's folder of that name when the variable is not set.
std::string ProfileFolder(const char* variable, const char* underProfile) {
  std::string base = Environment(variable);
  if (base.empty()) base = WithSeparator(Environment("USERPROFILE")) + underProfile;
  return WithSeparator(base) + "ZV8810 Firmware Updater\\";
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

}  // namespace

std::string UserConfigFolder() {
  return ProfileFolder("APPDATA", "AppData\\Roaming");
}

std::string UserDataFolder() {
  return ProfileFolder("LOCALAPPDATA", "AppData\\Local");
}

bool IsInstalledProgramFolder(const std::string& folder) {
  const std::string path = WithSeparator(Lower(folder));
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
    const std::string base = Environment(variable);
    if (base.empty()) continue;
    const std::string prefix = WithSeparator(Lower(base));
    if (path.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

bool CanCreateFileIn(const std::string& folder) {
  // Only an attempt tells: a folder's access list, not its attributes, decides. The probe is
  // deleted when its handle closes, also if the program ends in between.
  const std::string probe =
      WithSeparator(folder) + "~zv8810-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool CanWriteFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace plat
