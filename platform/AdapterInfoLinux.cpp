#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/AdapterInfo.h"
#include "platform/ComRegistry.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

std::mutex observerLock;
TLowLatencyObserver observer;

// The first line of a sysfs attribute without its line end; empty when it cannot be read.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

// The device's name as sysfs knows it: the last part of the path it resolves to (a COM alias
// or a by-id link leads to the device itself).
std::string TtyNameOf(const std::string& device) {
  std::error_code ec;
  fs::path resolved = fs::canonical(device, ec);
  return (ec ? fs::path(device) : resolved).filename().string();
}

fs::path ClassEntry(const std::string& ttyName, const TSystemRoots& roots) {
  return fs::path(roots.Sys) / "class" / "tty" / ttyName;
}

// The /dev/serial/by-id link that leads to the device, or empty.
std::string ByIdName(const std::string& ttyName, const TSystemRoots& roots) {
  std::error_code ec;
  const fs::path folder = fs::path(roots.Dev) / "serial" / "by-id";
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code linkError;
    fs::path target = fs::read_symlink(entry.path(), linkError);
    if (!linkError && target.filename() == ttyName) return entry.path().string();
  }
  return "";
}

int ParseMs(const std::string& text) {
  if (text.empty()) return -1;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < 0 || value > 100000) return -1;
  return static_cast<int>(value);
}

}  // namespace

TSystemRoots TSystemRoots::Current() {
  return {SysfsRoot(), "/dev"};
}

int ReadLatencyTimer(const std::string& ttyName, const TSystemRoots& roots) {
  if (ttyName.empty() || ttyName.find('/') != std::string::npos) return -1;
  return ParseMs(Attribute(ClassEntry(ttyName, roots) / "device" / "latency_timer"));
}

TAdapterInfo ReadAdapterInfo(const std::string& device, const TSystemRoots& roots) {
  TAdapterInfo info;
  info.TtyName = TtyNameOf(device);
  if (info.TtyName.empty() || info.TtyName == "." || info.TtyName == "..") return info;
  std::error_code ec;
  const fs::path port = fs::canonical(ClassEntry(info.TtyName, roots) / "device", ec);
  if (ec) return info;  // no such device, or it went away (its link leads nowhere)
  info.Present = true;
  info.Driver = fs::read_symlink(port / "driver", ec).filename().string();
  info.LatencyTimerMs = ReadLatencyTimer(info.TtyName, roots);
  info.ById = ByIdName(info.TtyName, roots);
  // The USB device is the nearest folder above the port that carries a vendor id: the
  // interface's parent for ACM devices, one more level up behind a USB-serial port.
  const fs::path top = fs::canonical(roots.Sys, ec);
  fs::path dir = port;
  for (int level = 0; level < 6 && !dir.empty() && dir != top && dir != dir.root_path();
       ++level, dir = dir.parent_path()) {
    std::string vendor = Attribute(dir / "idVendor");
    if (vendor.empty()) continue;
    info.Usb = true;
    info.VendorId = vendor;
    info.ProductId = Attribute(dir / "idProduct");
    info.Manufacturer = Attribute(dir / "manufacturer");
    info.Product = Attribute(dir / "product");
    info.Serial = Attribute(dir / "serial");
    break;
  }
  return info;
}

TLowLatencyReport RequestLowLatency(int fd, const std::string& path, const TSystemRoots& roots) {
  TLowLatencyReport report;
  report.Device = path;
  report.TtyName = TtyNameOf(path);
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
      serial.flags |= ASYNC_LOW_LATENCY;
      report.LowLatencyMode = ioctl(fd, TIOCSSERIAL, &serial) == 0;
    } else {
      report.LowLatencyMode = true;
    }
  }
  report.LatencyTimerMs = ReadLatencyTimer(report.TtyName, roots);
  if (report.LatencyTimerMs > 1) {
    // Drivers without the mode, or that leave the timer alone: set it ourselves where allowed.
    const fs::path attribute = ClassEntry(report.TtyName, roots) / "device" / "latency_timer";
    int attr = ::open(attribute.c_str(), O_WRONLY | O_CLOEXEC);
    if (attr >= 0) {
      [[maybe_unused]] ssize_t n = ::write(attr, "1\n", 2);
      ::close(attr);
      report.LatencyTimerMs = ReadLatencyTimer(report.TtyName, roots);
    }
  }
  return report;
}

void SetLowLatencyObserver(TLowLatencyObserver newObserver) {
  std::lock_guard<std::mutex> lock(observerLock);
  observer = std::move(newObserver);
}

void ApplyLowLatency(int fd, const std::string& path) {
  const int savedErrno = errno;
  TLowLatencyReport report = RequestLowLatency(fd, path);
  errno = savedErrno;
  if (report.LatencyTimerMs < 0) return;
  std::lock_guard<std::mutex> lock(observerLock);
  if (observer) observer(report);
}

}  // namespace plat
