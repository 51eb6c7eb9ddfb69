// The command line of zv8810-fwu.
#pragma once

#include <string>

enum class TCommand { None, Probe, Versions, Program, Describe, Ports, Help, Version };

struct TCliOptions {
  TCommand Command = TCommand::None;
  std::string Port;  // a COM name or a device path
  int Baud = 115200;
  std::string Protocol = "NMEA";  // as the window's protocol box names it
  bool ResetAuto = true;
  bool Restart = false;
  bool Scan = false;  // probe: try every protocol and bit rate until the receiver answers
  bool Russian = false;
  bool Trace = false;
  std::string File;
};

// Parses argv; on a usage error returns false with a message that says what to do.
bool ParseOptions(int argc, char** argv, TCliOptions& options, std::string& error);
const char* UsageText();
