#include "device/Faults.h"

namespace sim {

bool ApplyFault(const std::string& spec, TFaults& faults, std::string& error) {
  std::string name = spec.substr(0, spec.find('='));
  bool hasValue = spec.find('=') != std::string::npos;
  auto flag = [&](bool& field) {
    if (hasValue) {
      error = "fault " + name + " takes no value";
      return false;
    }
    field = true;
    return true;
  };
  if (name == "silent") return flag(faults.SilentFirmware);
  if (name == "no-restart-ack") return flag(faults.NoRestartAck);
  if (name == "no-greeting") return flag(faults.NoGreeting);
  error = "unknown fault '" + name + "' (see --help)";
  return false;
}

const char* FaultHelp() {
  return "  silent            the working firmware answers no poll and streams nothing\n"
         "  no-restart-ack    restart commands restart the receiver without the text \"Restart\"\n"
         "  no-greeting       the bootloader never sends its greeting\n";
}

}  // namespace sim
