// Shared fixtures: a private alias folder per test process, a pseudo-terminal peer registered
// as a COM port, the simulator as a child process, and the command line run to completion.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Pty.h"

using Bytes = std::vector<std::uint8_t>;

// The test holds the controlling side of a pty; the port engine opens it as COM<number>.
class TPtyPeer {
 public:
  explicit TPtyPeer(int number);
  ~TPtyPeer();
  int Number() const { return number_; }
  const std::string& Path() const { return pty_.DevicePath(); }
  void Send(const Bytes& bytes);
  void Send(const std::string& text);
  // Reads until count bytes arrived or the time is up; returns what arrived.
  Bytes Read(std::size_t count, int timeoutMs);
  // Reads whatever arrives within the time.
  Bytes ReadFor(int milliseconds);
  int Speed() const { return pty_.Speed(); }
  bool OddParity() const { return pty_.OddParity(); }
  // Closes the controlling side: the device vanishes for whoever has it open.
  void Hangup() { pty_.Close(); }

 private:
  plat::TPty pty_;
  int number_;
};

// zv8810-sim as a child process, registered as COM<number>.
class TSimProcess {
 public:
  TSimProcess(int number, const std::vector<std::string>& args);
  ~TSimProcess();
  void Signal(int signal);
  const std::string& DevicePath() const { return device_; }
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // What it wrote on standard error so far.
  std::string Errors() const;
  // Stops it and returns what it wrote on standard error.
  std::string Stop();

 private:
  pid_t pid_ = -1;
  int number_;
  std::string device_;
  std::string errPath_;
};

struct TRunResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
  double Seconds = 0;
  double SecondsAfterInterrupt = -1;  // from SIGINT to the end, when one was sent
};

// Runs a program to its end (standard output and error captured, not a terminal).
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs = 60000);
TRunResult RunCli(const std::vector<std::string>& args, int timeoutMs = 60000);
// Runs a program and sends it SIGINT after the time, as Ctrl+C.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs, int interruptAfterMs);
TRunResult RunCliInterrupted(const std::vector<std::string>& args, int afterMs);
// Runs a program and sends it SIGINT once interruptWhen() says so (asked every 20 ms): a test
// that waits for what happened rather than for a time holds on a loaded machine.
TRunResult RunProgramInterruptedWhen(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::function<bool()>& interruptWhen, int timeoutMs);

std::string CliPath();
std::string SimPath();
// A fresh folder for this test process.
std::string TempDir();
