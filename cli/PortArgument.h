// --port: a COM name, or a device path that gets a COM number for this run.
#pragma once

#include <string>

struct TResolvedPort {
  int Number = 0;
  std::string Name;    // "COM7": what the messages and the engine use
  std::string Device;  // the device behind it, when known
};

// False with a message (and the exit status the caller should use) when PORT cannot be used.
bool ResolvePort(const std::string& port, TResolvedPort& resolved, std::string& error,
                 int& exitCode);
// The same, with the message printed on standard error.
bool ResolvePortOrReport(const std::string& port, TResolvedPort& resolved, int& exitCode);
// The fixed message and, on a line of its own, the reason and what to do.
std::string OpenFailureMessage(const TResolvedPort& port, int error);
