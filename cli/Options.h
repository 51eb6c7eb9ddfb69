// The command line of zv8810-fwu.
#pragma once

#include <string>
#include <vector>

enum class TCommand {
  None,
  Probe,
  Versions,
  Program,
  Station,
  Describe,
  Ports,
  History,
  Help,
  Version
};

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

  // The history of jobs.
  std::string History;     // --history: a postgresql:// address or a file (else ZV8810_HISTORY)
  bool NoHistory = false;  // --no-history: the jobs leave no record
  // history: what it lists and how.
  std::string Receiver;     // --receiver: the module number
  std::string FileSum;      // --file-sum, as records keep it ("0x002E78D7")
  std::string StationName;  // --station: the station's host name
  bool HasSince = false;    // --since
  long long SinceUtc = 0;   // seconds since 1970
  bool Failed = false;      // --failed
  long long Limit = 0;      // --limit: the newest N (0: all)
  bool Json = false;        // --json
  bool Csv = false;         // --csv
  bool Sync = false;        // --sync: move the records kept locally to the server
};

// --since's value: "2026-12-10", "2026-12-10T15:50[:34]" (local time unless it ends in "Z" or
// an offset such as "+01:00"), or a time back from now ("36h", "7d"). False when it is none.
bool ParseSince(const std::string& text, long long now, long long& utc);
// --file-sum's value ("0x2e78d7", "2E78D7") as records keep it ("0x002E78D7").
bool ParseFileSum(const std::string& text, std::string& sum);

// Parses argv; on a usage error returns false with a message that says what to do.
bool ParseOptions(int argc, char** argv, TCliOptions& options, std::string& error);
const char* UsageText();
