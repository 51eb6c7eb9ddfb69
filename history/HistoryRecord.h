// One record of the history: everything a line asks about one job months later (when, where,
// by whom, which port, which file, which receiver, how it ended, and its log).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hist {

struct TJobRecord {
  // A random 128-bit id, made when the record is made: a record moved from the local file to the
  // server keeps it, so a sync that runs twice never stores a record twice.
  std::string RecordId;

  // The job.
  std::string Started;          // local time with its UTC offset, "2026-12-10T15:50:34+01:00"
  std::int64_t StartedUtc = 0;  // the same instant in seconds since 1970 (sorting, --since)
  std::string Finished;         // as Started
  double Seconds = 0;           // how long the job took
  std::string Station;          // host name (or ZV8810_STATION)
  std::string User;             // the user the program ran as
  std::string ProgramVersion;   // "2.3.0.1"
  std::string Command;          // "program", "versions", "station", "window program", ...
  std::string Port;             // the port as the operator named it
  std::string PortDevice;       // the device behind it
  std::string PortUsb;          // the adapter's USB identity, when it has one
  std::string Protocol;         // "NMEA" or "ZORP"
  std::int64_t Rate = 0;        // bit rate
  std::string Reset;            // "auto" or "manual"

  // The system file (empty for versions).
  std::string FilePath;
  std::optional<std::int64_t> FileSize;
  std::string FileSum;      // "0x002E78D7"
  std::string FileVersion;  // from its description block
  std::string FileDevice;   // the device id of its description block

  // The receiver: its identity where it reported one, its versions.
  std::string ReceiverNumber;  // the module number ("ZV8810-000417")
  std::string ReceiverModuleId;
  std::string ReceiverProductionDate;
  std::string ReceiverDeviceId;
  std::string BootloaderVersion;
  std::string FirmwareBefore;  // the firmware version the job found (versions)
  std::string FirmwareAfter;   // the firmware version a programming run left (read back)

  // The outcome.
  bool Ok = false;
  std::int64_t ExitStatus = 0;
  std::optional<std::int64_t> ResultCode;  // the programming thread's result, when it ran
  bool Stopped = false;
  std::string Message;
  std::optional<bool> Verified;  // nothing without a read-back
  std::string BackupPath;
  bool Forced = false;  // a file without a description block, written all the same (--force, or
                        // the window's question answered Yes)

  std::vector<std::string> Log;

  // Kept in the local file because the server named here could not be reached; empty once the
  // record is where it belongs.
  std::string PendingServer;
};

// What `history` asks for; empty members do not filter.
struct TFilter {
  std::string Receiver;  // the module number
  std::string FileSum;   // "0x002E78D7" (upper-case hex, as records keep it)
  std::string Station;
  std::optional<std::int64_t> SinceUtc;
  bool FailedOnly = false;
  bool PendingOnly = false;  // only the records waiting for their server
  std::int64_t Limit = 0;    // 0: every record
};

// A new random record id (32 hexadecimal digits).
std::string NewRecordId();

}  // namespace hist
