#include "device/Hardware.h"

#include <algorithm>

namespace sim {

namespace {
// A processor polling an empty UART looks again this often (its own time-outs need the timer).
constexpr auto IdlePoll = std::chrono::milliseconds(20);
constexpr std::size_t RxLimit = 1 << 20;  // more than this unread is lost, as in a UART overrun
// Busy times up to this are waited out on the device's own clock (a word's programming); longer
// ones (a sector's erase) put the processor to sleep.
constexpr auto ShortBusy = std::chrono::milliseconds(1);
}  // namespace

THardware::THardware(TFlash& flash, bool timing, THooks hooks)
    : flash_(flash), timing_(timing), hooks_(std::move(hooks)) {
  PowerUp();
}

void THardware::PowerUp() {
  rx_.clear();
  powerUp_ = Now();
  flashError_ = false;
  flashBusyUntil_ = {};
  stalled_ = false;
  emptyPolls_ = 0;
}

Clock::time_point THardware::Now() const {
  return std::max(Clock::now(), ahead_);
}

void THardware::AdvanceTo(Clock::time_point when) {
  ahead_ = std::max(ahead_, when);
}

void THardware::Receive(std::uint8_t byte) {
  if (rx_.size() < RxLimit) rx_.push_back(byte);
}

void THardware::Stall(Clock::time_point until) {
  stalled_ = true;
  wake_ = until;
}

std::uint32_t THardware::Read(std::uint32_t address) {
  const auto now = Now();
  switch (address) {
    case UartBase: {
      if (rx_.empty()) return 0;
      std::uint8_t b = rx_.front();
      rx_.pop_front();
      return b;
    }
    case UartBase + 4:
      // The emulator resumes a stopped processor at the read that stopped it, so the second
      // empty poll in a row stops it: the code between two polls (a time-out check) still runs.
      if (!rx_.empty()) {
        emptyPolls_ = 0;
        return 1;
      }
      if (++emptyPolls_ >= 2) Stall(now + IdlePoll);
      return 0;
    case FlashCtrlBase:
      return flashAddr_;
    case FlashCtrlBase + 4:
      return flashData_;
    case FlashCtrlBase + 0xC: {
      bool busy = now < flashBusyUntil_;
      if (busy && flashBusyUntil_ - now <= ShortBusy) {
        ahead_ = flashBusyUntil_;
        busy = false;
      }
      if (busy) Stall(flashBusyUntil_);
      return (busy ? 1u : 0u) | (flashError_ ? 2u : 0u);
    }
    case TimerBase:
      return static_cast<std::uint32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(now - powerUp_).count());
    default:
      return 0;
  }
}

void THardware::Write(std::uint32_t address, std::uint32_t value) {
  switch (address) {
    case UartBase:
      hooks_.Transmit(static_cast<std::uint8_t>(value));
      break;
    case FlashCtrlBase:
      flashAddr_ = value;
      break;
    case FlashCtrlBase + 4:
      flashData_ = value;
      break;
    case FlashCtrlBase + 8: {
      const auto now = Now();
      if (now < flashBusyUntil_) break;  // a command while busy is ignored
      bool erase = value == 1;
      if (value != 1 && value != 2) break;
      bool failed = hooks_.FlashFault && hooks_.FlashFault(erase, flashAddr_);
      if (!failed)
        failed =
            erase ? !flash_.EraseSector(flashAddr_) : !flash_.ProgramWord(flashAddr_, flashData_);
      flashError_ = failed;
      if (timing_) {
        flashBusyUntil_ = now + (erase ? std::chrono::microseconds(SectorEraseMs * 1000)
                                       : std::chrono::microseconds(WordProgramUs));
        (erase ? eraseMs_ : programMs_) += erase ? SectorEraseMs : WordProgramUs / 1000.0;
      }
      break;
    }
    case ResetBase:
      if (value == ResetKey) hooks_.Reset();
      break;
    default:
      break;
  }
}

}  // namespace sim
