// What a front end asks of the run control, as typed values: the window and the command line
// each map their inputs to one TJobRequest once, and nothing below parses it back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ComRegistry.h"
#include "programmer/Job.h"

// The working protocol the receiver is reached in ("Auto" only). None: not chosen.
enum class TJobProtocol { None, Zorp, Nmea };
// How the receiver enters its bootloader: the restart command, or the operator's power cycle.
enum class TResetMethod { Auto, Manual };

// "ZORP", "NMEA" (empty for None).
const char* JobProtocolName(TJobProtocol protocol);
// The receiver session's protocol code (ProtocolZorp, ProtocolNmea).
std::uint8_t SessionProtocolCode(TJobProtocol protocol);

struct TJobRequest {
  std::int32_t Mode = ModeVersions;  // ModeVersions or ModeProgram
  // The port, resolved once: Name empty when none was chosen, Number 0 when the name holds no
  // port number (such a port is reported as not found).
  plat::TPortEntry Port;
  std::int32_t Rate = 0;  // bit/s; 0 when none was chosen
  TJobProtocol Protocol = TJobProtocol::None;
  TResetMethod Reset = TResetMethod::Manual;
  std::string SystemFile;         // the system file's path
  bool RequireSystemFile = true;  // false: a versions inquiry that needs no file (command line)
  // The images as the front end loaded them already (one load for every port of a start), or
  // null: the run control has the data module load them.
  std::shared_ptr<const TImagesLoad> Images;
  // The production line's switches of a programming run.
  bool Verify = false;
  std::string BackupDir;    // empty: no backup
  std::string BackupLabel;  // the port as the backup's file name shows it
  // A versions inquiry also reads the whole firmware back and compares it with its header.
  bool CheckFirmware = false;
  // The system file has no description block and the operator had it written all the same (the
  // window's question answered Yes); the job's record says so.
  bool Forced = false;
};

// A port name ("COM7") resolved to its number and device.
plat::TPortEntry ResolvePortName(const std::string& name);

// How a job ended.
enum class TJobEnd {
  Success,          // the programming run, or the versions inquiry, succeeded
  NoAnswer,         // "Auto": the receiver did not answer in its working protocol
  PortNotOpened,    // the port could not be opened (OpenError)
  InputMissing,     // the port, protocol, rate or system file path was not given
  ResidentMissing,  // the resident image is not in the program
  FileRefused,      // the system file could not be read or was refused (FileLoad)
  StageFailed,      // the programming thread ended with Result
  Stopped,          // stopped (Stop: requested, or the port was lost)
};

struct TJobOutcome {
  TJobEnd End = TJobEnd::Success;
  std::int32_t Mode = ModeVersions;
  // The programming thread's last result, when the job reached the thread.
  bool ReachedThread = false;
  std::int32_t Result = ResultNothing;
  int OpenError = 0;  // PortNotOpened: the errno of the failed open
  TSystemFileLoad FileLoad = TSystemFileLoad::Loaded;
  TStopReason Stop = TStopReason::None;
  // A message shown before the final one (why the system file was refused), or none.
  std::vector<std::string> Notice;
  // The final message's lines in the job's language ("Could not open COM7!"; the reason of a
  // failed open is each front end's own line after it). Empty: no message (a stop that the
  // operator asked for while the session looked for the receiver).
  std::vector<std::string> Lines;
  bool Information = false;  // the message informs (success) rather than reports a failure

  // The lines as one message box text: CR between lines.
  static std::string Joined(const std::vector<std::string>& lines);
};
