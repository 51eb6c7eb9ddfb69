#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/ComRegistry.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

std::mutex registeredLock;
std::map<int, std::string> registeredPaths;
std::string sysfsRoot = "/sys";  // guarded by registeredLock

struct TFamily {
  const char* prefix;
  int base;
};
constexpr TFamily kFamilies[] = {{"ttyS", 1}, {"ttyUSB", 17}, {"ttyACM", 49}, {"ttyAMA", 81}};

bool IsDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

// An 8250 entry exists for every configured slot; its "type" is 0 when no UART answers there.
bool HasUart(const fs::path& entry) {
  std::ifstream type(entry / "type");
  int value = -1;
  if (!(type >> value)) return true;
  return value != 0;
}

void AddSystemDevices(std::map<int, std::string>& ports) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(SysfsRoot()) / "class" / "tty", ec)) {
    std::string name = entry.path().filename().string();
    if (!fs::exists(entry.path() / "device", ec)) continue;
    for (const TFamily& family : kFamilies) {
      std::string prefix = family.prefix;
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      std::string index = name.substr(prefix.size());
      if (!IsDigits(index)) continue;
      if (prefix == "ttyS" && !HasUart(entry.path())) continue;
      ports.emplace(family.base + std::atoi(index.c_str()), "/dev/" + name);
    }
  }
}

void AddAliases(std::map<int, std::string>& ports) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(AliasFolder(), ec)) {
    int number = PortNumberOf(entry.path().filename().string());
    if (number <= 0) continue;
    // A link whose device is gone (a simulator that was killed, an adapter pulled out) names
    // no port.
    if (!fs::exists(entry.path(), ec)) continue;
    ports[number] = entry.path().string();
  }
}

std::map<int, std::string> AllPorts() {
  std::map<int, std::string> ports;
  AddSystemDevices(ports);
  {
    std::lock_guard<std::mutex> lock(registeredLock);
    for (const auto& [number, path] : registeredPaths) ports[number] = path;
  }
  AddAliases(ports);
  return ports;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path resolved = fs::canonical(path, ec);
  return ec ? std::string() : resolved.string();
}

}  // namespace

void SetSysfsRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(registeredLock);
  sysfsRoot = root;
}

std::string SysfsRoot() {
  std::lock_guard<std::mutex> lock(registeredLock);
  return sysfsRoot;
}

std::string AliasFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] != '\0') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : ".") + "/.local/share";
  }
  return base + "/zv8810-fwu/ports";
}

int PortNumberOf(const std::string& name) {
  if (name.size() < 4) return 0;
  std::string head = name.substr(0, 3);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::string digits = name.substr(3);
  if (head != "COM" || !IsDigits(digits) || digits.size() > 6) return 0;
  return std::atoi(digits.c_str());
}

std::vector<TPortEntry> ListPortEntries() {
  std::vector<TPortEntry> entries;
  for (const auto& [number, path] : AllPorts())
    entries.push_back({number, "COM" + std::to_string(number), path});
  return entries;
}

std::string DevicePathOf(int number) {
  auto ports = AllPorts();
  auto it = ports.find(number);
  return it == ports.end() ? std::string() : it->second;
}

int RegisterDevicePath(const std::string& path) {
  std::string target = Canonical(path);
  if (target.empty()) return 0;
  auto ports = AllPorts();
  for (const auto& [number, device] : ports)
    if (Canonical(device) == target) return number;
  int number = 100;
  while (ports.count(number) != 0) ++number;
  std::lock_guard<std::mutex> lock(registeredLock);
  registeredPaths[number] = path;
  return number;
}

void ClearRegisteredPaths() {
  std::lock_guard<std::mutex> lock(registeredLock);
  registeredPaths.clear();
}

bool AddAlias(int number, const std::string& device) {
  std::error_code ec;
  fs::create_directories(AliasFolder(), ec);
  fs::path link = fs::path(AliasFolder()) / ("COM" + std::to_string(number));
  fs::remove(link, ec);
  fs::create_symlink(device, link, ec);
  return !ec;
}

bool RemoveAlias(int number) {
  std::error_code ec;
  return fs::remove(fs::path(AliasFolder()) / ("COM" + std::to_string(number)), ec);
}

}  // namespace plat
