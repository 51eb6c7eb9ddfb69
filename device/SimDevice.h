// The simulated ZV-8810: its states (working firmware, restarting, bootloader, loading, the
// resident on the emulated processor) on one line.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "device/ArmCpu.h"
#include "device/Bootloader.h"
#include "device/Faults.h"
#include "device/Flash.h"
#include "device/Hardware.h"
#include "device/Line.h"
#include "device/Scheduler.h"
#include "device/UtcClock.h"
#include "device/WorkingFirmware.h"

namespace sim {

struct TSimOptions {
  bool Zorp = false;
  int Baud = 115200;
  bool Timing = false;
  bool StartInBootloader = false;
  int StreamPeriodMs = 1000;          // 0: the firmware streams nothing
  int LatencyMs = 0;                  // the adapter's latency timer towards the updater, 0 for none
  std::optional<UtcTime> ClockStart;  // the NMEA clock's start; the host's UTC time when empty
  TFaults Faults;
};

class TSimDevice {
 public:
  enum class State { Firmware, Restarting, Bootloader, Loading, Resident };

  TSimDevice(const TSimOptions& options, TLine& line, TScheduler& scheduler, TFlash& flash);

  void Start();
  // Bytes that reached the device.
  void Receive(const Bytes& bytes);
  // The operator switches the receiver off and on: it comes up in its bootloader.
  void PowerCycle();
  State CurrentState() const { return state_; }
  // The line was dropped by a fault: the simulator closes its terminal and ends.
  bool LineDropped() const { return faults_.LineDropped(); }
  const THardware& Hardware() const { return hardware_; }
  // Time the device itself spent restarting (before its greeting), in milliseconds.
  double BootMs() const { return bootMs_; }

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
  void BootloaderByte(std::uint8_t byte);
  void StartResident();
  void RunCpu();
  void WakeCpuAt(Clock::time_point when);

  const TSimOptions& options_;
  TLine& line_;
  TScheduler& scheduler_;
  TFlash& flash_;
  TUtcClock clock_;
  TWorkingFirmware firmware_;
  TFaultInjector faults_;
  THardware hardware_;
  TArmCpu cpu_;
  TUploadReceiver upload_{RamSize};
  State state_ = State::Firmware;
  std::uint64_t wakeToken_ = 0;
  double bootMs_ = 0;
};

}  // namespace sim
