#include "transport/PortList.h"

#include <algorithm>
#include <cctype>

#include "platform/ComRegistry.h"
#include "platform/SerialDevice.h"

void ListSerialPorts(std::vector<std::string>& list) {
  list.clear();
  std::vector<std::string> scratch;
  for (const plat::TPortEntry& entry : plat::ListPortEntries()) scratch.push_back(entry.Name);
  auto lower = [](unsigned char c) { return std::tolower(c); };
  std::sort(scratch.begin(), scratch.end(), [&](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
          return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y));
        });
  });
  list = std::move(scratch);
}

bool ProbeSerialPort(const std::string& name) {
  if (name.size() < 4) return false;
  int number = plat::PortNumberOf(name);
  if (number <= 0) return false;
  std::string path = plat::DevicePathOf(number);
  if (path.empty()) return false;
  plat::TSerialDevice device;
  return device.Open(path);
}
