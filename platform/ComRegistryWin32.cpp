// The COM names of Windows: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (each value's data
// is a port name such as "COM3"); a port number n is opened as "\\.\COMn". There are no aliases:
// the simulator, which registers them, runs on Linux only.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/ComRegistry.h"

namespace plat {

namespace {

std::string DeviceForm(const std::string& name) {
  return "\\\\.\\" + name;
}

// The port names in the registry, in the order the enumeration gives them; empty when the key
// is missing. A value whose name or data does not fit 256 characters ends the enumeration.
std::vector<std::string> RegistryPortNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD nameSize = sizeof valueName;
    BYTE data[256];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS)
      break;
    if (type != REG_SZ || dataSize == 0) continue;
    std::string name(reinterpret_cast<const char*>(data), dataSize);
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    if (!name.empty()) names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

}  // namespace

std::string AliasFolder() {
  return std::string();
}

int PortNumberOf(const std::string& name) {
  if (name.size() < 4) return 0;
  std::string head = name.substr(0, 3);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::string digits = name.substr(3);
  if (head != "COM" || digits.size() > 6 ||
      !std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; }))
    return 0;
  return std::atoi(digits.c_str());
}

std::vector<TPortEntry> ListPortEntries() {
  std::vector<TPortEntry> entries;
  for (const std::string& name : RegistryPortNames())
    entries.push_back({PortNumberOf(name), name, DeviceForm(name)});
  std::sort(entries.begin(), entries.end(), [](const TPortEntry& a, const TPortEntry& b) {
    return a.Number != b.Number ? a.Number < b.Number : a.Name < b.Name;
  });
  return entries;
}

std::string DevicePathOf(int number) {
  // Every number has its device name; whether a port answers there is Open's business.
  return number > 0 ? DeviceForm("COM" + std::to_string(number)) : std::string();
}

int RegisterDevicePath(const std::string& path) {
  // "\\.\COM7" is port 7; other paths have no number on Windows.
  std::string name = path;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  return PortNumberOf(name);
}

void ClearRegisteredPaths() {}

bool AddAlias(int, const std::string&) {
  return false;
}

bool RemoveAlias(int) {
  return false;
}

}  // namespace plat
