// The simulated ZV-8810: its states (working firmware, restarting, bootloader) on one line.
#pragma once

#include <memory>

#include "device/Faults.h"
#include "device/Line.h"
#include "device/Scheduler.h"
#include "device/WorkingFirmware.h"

namespace sim {

struct TSimOptions {
  bool Zorp = false;
  int Baud = 115200;
  bool Timing = false;
  bool StartInBootloader = false;
  int StreamPeriodMs = 1000;  // 0: the firmware streams nothing
  TFaults Faults;
};

class TSimDevice {
 public:
  enum class State { Firmware, Restarting, Bootloader };

  TSimDevice(const TSimOptions& options, TLine& line, TScheduler& scheduler);

  void Start();
  // Bytes that reached the device.
  void Receive(const Bytes& bytes);
  // The operator switches the receiver off and on: it comes up in its bootloader.
  void PowerCycle();
  State CurrentState() const { return state_; }

  // Bootloader timing: the greeting comes this long after a restart, then once a second
  // within the window; an unanswered window starts the working firmware again.
  static constexpr int BootDelayMs = 250;
  static constexpr int GreetingPeriodMs = 1000;
  static constexpr int GreetingWindowMs = 10000;

 private:
  void EnterFirmware();
  void RestartIntoBootloader();
  void EnterBootloader();
  void Greet(int elapsedMs);
  void ScheduleStream();

  const TSimOptions& options_;
  TLine& line_;
  TScheduler& scheduler_;
  TWorkingFirmware firmware_;
  State state_ = State::Firmware;
  bool greetingAnswered_ = false;
};

}  // namespace sim
