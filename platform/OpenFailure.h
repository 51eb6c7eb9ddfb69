// Why a port could not be opened, and what the operator can do about it: one table for the
// command line's line ("COM7: <reason>") and the window's line under "Could not open COM7!".
#pragma once

#include <string>

namespace plat {

enum class TOpenFailure {
  None,          // no error
  Permission,    // the user may not use the device
  Busy,          // another program holds the port
  Missing,       // no such device
  NotSerial,     // the device is no serial port
  LineSettings,  // the line settings were refused
  Other,         // anything else: the system's own text
};

// The kind of failure an errno value stands for on this system (Windows reports a port that
// another program holds as "access denied", so there EACCES is Busy).
TOpenFailure OpenFailureKind(int error);

// The command line's reason for error (lower case, no full stop): "the port is in use by another
// program: close that program and try again". Empty for 0.
std::string OpenFailureReason(int error);

// The window's reason for error, a sentence in the given language: "The port is in use by another
// program: close that program and try again." An error of 0 counts as EIO.
std::string OpenFailureWindowReason(int error, bool russian);

}  // namespace plat
