// The COM-name registry: the engine works with port numbers (COM12 is port 12), this maps them
// to the devices of the machine.
//
// Where the numbers come from, in order of precedence:
//  1. Aliases: an entry COMn (a symbolic link to a device) in the alias folder,
//     ${XDG_DATA_HOME:-~/.local/share}/zv8810-fwu/ports/. The simulator registers itself there.
//  2. Paths registered at run time (the command line's --port /dev/...): the number an alias or
//     a system device already gives that device, otherwise the first free number from 100 up.
//  3. System devices under /sys/class/tty, numbered by family so that a device keeps its number
//     across runs: ttySk is COM(k+1) (only where the 8250 port has a UART behind it), ttyUSBk is
//     COM(k+17), ttyACMk is COM(k+49), ttyAMAk is COM(k+81). Other families are not listed.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct TPortEntry {
  int Number = 0;
  std::string Name;    // "COM7"
  std::string Device;  // the path a program opens
};

// The alias folder (created on demand by AddAlias).
std::string AliasFolder();
// The sysfs root the system devices are read from, "/sys"; tests point it at a fake tree.
void SetSysfsRoot(const std::string& root);
std::string SysfsRoot();
// All known ports, sorted by number.
std::vector<TPortEntry> ListPortEntries();
// The device of port n, or empty when the number is unknown.
std::string DevicePathOf(int number);
// Gives a device path a port number for this run and returns it (0 when the path is not a
// device that exists).
int RegisterDevicePath(const std::string& path);
// Forgets every path registered at run time (tests).
void ClearRegisteredPaths();
// Creates or replaces the alias COMn for the device; false on failure.
bool AddAlias(int number, const std::string& device);
bool RemoveAlias(int number);
// "COMn" -> n; 0 when the name has no number after "COM" (letter case ignored).
int PortNumberOf(const std::string& name);

}  // namespace plat
