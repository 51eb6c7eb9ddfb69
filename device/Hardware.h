// The ZV-8810's peripherals as the processor sees them: UART, flash controller, millisecond
// timer and reset control (device/README.md lists every register).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "device/Flash.h"
#include "device/Scheduler.h"

namespace sim {

constexpr std::uint32_t RamBase = 0x40000000;
constexpr std::uint32_t RamSize = 0x00010000;
constexpr std::uint32_t UartBase = 0xE0000000;
constexpr std::uint32_t FlashCtrlBase = 0xE0001000;
constexpr std::uint32_t TimerBase = 0xE0002000;
constexpr std::uint32_t ResetBase = 0xE0003000;
constexpr std::uint32_t ResetKey = 0x5AFE0001;

// Realistic flash times with --timing.
constexpr int SectorEraseMs = 400;
constexpr int WordProgramUs = 20;

class THardware {
 public:
  struct THooks {
    std::function<void(std::uint8_t)> Transmit;  // a byte leaves the UART
    std::function<void()> Reset;                 // the reset key was written
    // Lets a fault fail a flash operation: true = the controller reports an error.
    std::function<bool(bool erase, std::uint32_t address)> FlashFault;
  };

  THardware(TFlash& flash, bool timing, THooks hooks);

  void PowerUp();
  void Receive(std::uint8_t byte);  // a byte arrives at the UART
  bool RxWaiting() const { return !rx_.empty(); }

  std::uint32_t Read(std::uint32_t address);
  void Write(std::uint32_t address, std::uint32_t value);

  // The processor asked for something that is not there yet (an empty UART, a busy flash):
  // it may sleep until input arrives or until WakeTime.
  bool Stalled() const { return stalled_; }
  void ClearStall() {
    stalled_ = false;
    emptyPolls_ = 0;
  }
  Clock::time_point WakeTime() const { return wake_; }
  // The device's own clock, never behind the wall clock. It runs ahead when the device acts on
  // bytes that the line hands over before their last bit is through (AdvanceTo), and when a
  // short flash operation is waited out by moving it on instead of putting the processor to
  // sleep for a few microseconds (the emulator runs the polling loop far faster than the real
  // processor, and a sleep that short costs the host more than it lasts). The wall clock
  // catches up while the device waits; what it transmits leaves no earlier than its clock says.
  Clock::time_point Now() const;
  void AdvanceTo(Clock::time_point when);

  // The flash's own working time so far (with --timing), for the benchmark's accounting.
  double EraseMs() const { return eraseMs_; }
  double ProgramMs() const { return programMs_; }

 private:
  void Stall(Clock::time_point until);

  TFlash& flash_;
  const bool timing_;
  THooks hooks_;
  std::deque<std::uint8_t> rx_;
  Clock::time_point powerUp_;
  std::uint32_t flashAddr_ = 0, flashData_ = 0;
  bool flashError_ = false;
  Clock::time_point flashBusyUntil_{};
  bool stalled_ = false;
  int emptyPolls_ = 0;
  double eraseMs_ = 0, programMs_ = 0;
  Clock::time_point wake_{};
  Clock::time_point ahead_{};
};

}  // namespace sim
