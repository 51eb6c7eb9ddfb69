// ports: the serial ports found, one COM name per line with the device behind it.
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "platform/ComRegistry.h"
#include "transport/PortList.h"

int RunPorts() {
  std::vector<std::string> names;
  ListSerialPorts(names);
  if (names.empty()) {
    std::fprintf(stderr,
                 "No serial ports found. Connect the receiver, or start zv8810-sim --com COMn.\n");
    return ExitSuccess;
  }
  for (const std::string& name : names) {
    std::string device = plat::DevicePathOf(plat::PortNumberOf(name));
    std::error_code ec;
    auto target = std::filesystem::canonical(device, ec);
    const std::string shown = ec ? device : target.string();
    std::printf("%-8s %s\n", name.c_str(), shown.c_str());
  }
  return ExitSuccess;
}
