#include "cli/PortArgument.h"

#include <cerrno>
#include <cstdio>

#include "appdata/Language.h"
#include "cli/ExitCodes.h"
#include "platform/ComRegistry.h"
#include "platform/SerialDevice.h"

bool ResolvePort(const std::string& port, TResolvedPort& resolved, std::string& error,
                 int& exitCode) {
  if (port.find('/') != std::string::npos) {
    int number = plat::RegisterDevicePath(port);
    if (number <= 0) {
      resolved.Name = port;
      resolved.Device = port;
      error = OpenFailureMessage(resolved, ENOENT);
      exitCode = ExitOpenFailed;
      return false;
    }
    resolved.Number = number;
    resolved.Name = "COM" + std::to_string(number);
    resolved.Device = port;
    return true;
  }
  int number = plat::PortNumberOf(port);
  if (number <= 0) {
    error = "--port needs a COM name such as COM7 or a device path such as /dev/ttyUSB0";
    exitCode = ExitUsage;
    return false;
  }
  resolved.Number = number;
  resolved.Name = "COM" + std::to_string(number);
  resolved.Device = plat::DevicePathOf(number);
  return true;
}

bool ResolvePortOrReport(const std::string& port, TResolvedPort& resolved, int& exitCode) {
  std::string error;
  if (ResolvePort(port, resolved, error, exitCode)) return true;
  std::fprintf(stderr, "%s\n", error.c_str());
  return false;
}

std::string OpenFailureMessage(const TResolvedPort& port, int error) {
  std::string message = std::string(Tr("Ошибка открытия ", "Could not open ")) + port.Name + "!";
  std::string device = port.Device.empty() ? port.Name : port.Device;
  if (port.Device.empty() && error == ENOENT)
    return message + "\n" + port.Name +
           ": no device has this number (zv8810-fwu ports lists the ports)";
  return message + "\n" + device + ": " + plat::OpenFailureReason(error == 0 ? EIO : error);
}
