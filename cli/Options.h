// The command line of zv8810-fwu.
#pragma once

#include <string>
#include <vector>

enum class TCommand { None, Probe, Versions, Program, Station, Describe, Ports, Help, Version };

struct TCliOptions {
  TCommand Command = TCommand::None;
  std::string Port;                // a COM name or a device path (the first --port)
  std::vector<std::string> Ports;  // every --port, in the order given
  int Baud = 115200;
  std::string Protocol = "NMEA";  // as the window's protocol box names it
  bool ResetAuto = true;
  bool Restart = false;
  bool Scan = false;      // probe: try every protocol and bit rate until the receiver answers
  bool Resident = false;  // probe: restart a resident left running on the receiver
  bool Russian = false;
  bool Trace = false;
  std::string File;
  bool Verify = false;        // read the written image back and compare it
  std::string BackupDir;      // save the firmware here before erasing
  std::string Report;         // the JSON report (station: JSON lines, appended)
  bool Force = false;         // program a system file that has no description block
  std::string ExpectVersion;  // program, station: the version the file's description must name
  bool Check = false;         // versions: read the firmware area and compare it with its header
  std::string Expect;         // versions: the firmware version the receiver must have
  bool Fixture = false;       // station: the --port ports stay plugged in; receivers are swapped
};

// Parses argv; on a usage error returns false with a message that says what to do.
bool ParseOptions(int argc, char** argv, TCliOptions& options, std::string& error);
const char* UsageText();
