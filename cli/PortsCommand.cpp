// ports: the serial ports found, one COM name per line with the device behind it; under a USB
// adapter, indented lines with its stable name, identity, driver and latency timer.
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "platform/AdapterInfo.h"
#include "platform/ComRegistry.h"
#include "transport/PortList.h"

namespace {

void PrintAdapter(const plat::TAdapterInfo& info) {
  constexpr const char* Indent = "         ";
  if (!info.ById.empty()) std::printf("%sby-id    %s\n", Indent, info.ById.c_str());
  if (info.Usb) {
    std::string identity = info.VendorId + ":" + info.ProductId;
    std::string product = info.Product.empty() ? info.Manufacturer : info.Product;
    if (!product.empty()) identity += "  " + product;
    if (!info.Serial.empty()) identity += "  serial " + info.Serial;
    std::printf("%susb      %s\n", Indent, identity.c_str());
  }
  if (!info.Driver.empty() && (info.Usb || info.LatencyTimerMs >= 0)) {
    std::string line = info.Driver;
    if (info.LatencyTimerMs >= 0) {
      line += "  latency timer " + std::to_string(info.LatencyTimerMs) + " ms";
      if (info.LatencyTimerMs > 1)
        line += " (set on open where allowed; the README's udev rule sets it to 1)";
    }
    std::printf("%sdriver   %s\n", Indent, line.c_str());
  }
}

}  // namespace

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
    if (!ec) PrintAdapter(plat::ReadAdapterInfo(target.string()));
  }
  return ExitSuccess;
}
