// Faults the simulator can be told to show, for tests.
#pragma once

#include <string>

namespace sim {

struct TFaults {
  bool SilentFirmware = false;  // the working firmware answers nothing and streams nothing
  bool NoRestartAck = false;    // restarts without sending "Restart"
  bool NoGreeting = false;      // the bootloader never greets
};

// Applies one --fault NAME[=VALUE]; false with a message when it is not understood.
bool ApplyFault(const std::string& spec, TFaults& faults, std::string& error);
// The list for --help.
const char* FaultHelp();

}  // namespace sim
