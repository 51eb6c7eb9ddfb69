#include "device/SimDevice.h"

#include <cstdio>

namespace sim {

namespace {
// Instructions per slice before the event loop gets a turn.
constexpr std::uint64_t CpuSlice = 500000;
}  // namespace

TSimDevice::TSimDevice(const TSimOptions& options, TLine& line, TScheduler& scheduler,
                       TFlash& flash)
    : options_(options),
      line_(line),
      scheduler_(scheduler),
      flash_(flash),
      clock_(options.ClockStart),
      firmware_(options.Zorp, options.Faults,
                TWorkingFirmware::THooks{[this](const Bytes& b) { line_.Send(b, hardware_.Now()); },
                                         [this] { RestartIntoBootloader(); },
                                         [this] { return clock_.Now(); }}),
      faults_(options.Faults),
      hardware_(flash, options.Timing,
                THardware::THooks{[this](std::uint8_t b) {
                                    if (faults_.FromResident(b)) line_.Send(b, hardware_.Now());
                                    faults_.AfterReply(flash_.Data());
                                  },
                                  [this] { cpu_.RequestStop(); },
                                  [this](bool erase, std::uint32_t address) {
                                    return faults_.FlashFails(erase, address);
                                  }}),
      cpu_(flash, hardware_) {}

void TSimDevice::Start() {
  if (options_.StartInBootloader)
    RestartIntoBootloader();
  else
    EnterFirmware();
}

void TSimDevice::EnterFirmware() {
  scheduler_.Invalidate();
  state_ = State::Firmware;
  line_.Expect(options_.Baud, options_.Zorp);
  firmware_.Reset();
  ScheduleStream();
  std::fprintf(stderr, "zv8810-sim: working firmware (%s, %d bit/s)\n",
               options_.Zorp ? "ZORP" : "NMEA", options_.Baud);
}

void TSimDevice::ScheduleStream() {
  if (options_.StreamPeriodMs <= 0) return;
  scheduler_.After(options_.StreamPeriodMs, [this] {
    firmware_.StreamTick();
    ScheduleStream();
  });
}

void TSimDevice::RestartIntoBootloader() {
  scheduler_.Invalidate();
  state_ = State::Restarting;
  line_.DropInput();
  bootMs_ += BootDelayMs;
  scheduler_.At(hardware_.Now() + std::chrono::milliseconds(BootDelayMs),
                [this] { EnterBootloader(); });
}

void TSimDevice::EnterBootloader() {
  state_ = State::Bootloader;
  line_.Expect(115200, false);
  hardware_.PowerUp();
  std::fprintf(stderr, "zv8810-sim: bootloader\n");
  Greet(0);
}

void TSimDevice::Greet(int elapsedMs) {
  if (elapsedMs >= GreetingWindowMs) {
    EnterFirmware();  // nobody answered: the bootloader starts the firmware
    return;
  }
  if (!options_.Faults.NoGreeting) line_.Send("#$#%", hardware_.Now());
  scheduler_.After(GreetingPeriodMs, [this, elapsedMs] { Greet(elapsedMs + GreetingPeriodMs); });
}

void TSimDevice::PowerCycle() {
  std::fprintf(stderr, "zv8810-sim: power cycle\n");
  RestartIntoBootloader();
}

void TSimDevice::Receive(const Bytes& bytes) {
  hardware_.AdvanceTo(line_.LastArrival());  // the device hears them when they are through
  for (std::uint8_t b : bytes) {
    switch (state_) {
      case State::Firmware:
        firmware_.Receive(Bytes{b});
        break;
      case State::Restarting:
        break;  // a restarting receiver hears nothing
      case State::Bootloader:
        if (b == 0xCC) {
          scheduler_.Invalidate();  // the greeting is answered: no more greetings
          upload_.Reset();
          state_ = State::Loading;
        }
        break;
      case State::Loading:
        BootloaderByte(b);
        break;
      case State::Resident:
        hardware_.Receive(faults_.ToResident(b));
        break;
    }
  }
  if (state_ == State::Resident) RunCpu();
}

void TSimDevice::BootloaderByte(std::uint8_t byte) {
  switch (upload_.Push(byte)) {
    case TUploadReceiver::TResult::More:
      break;
    case TUploadReceiver::TResult::Refused:
      std::fprintf(stderr, "zv8810-sim: upload refused: %s\n", upload_.RefusalReason());
      EnterBootloader();  // greets again within a new window
      break;
    case TUploadReceiver::TResult::Loaded:
      StartResident();
      break;
  }
}

void TSimDevice::StartResident() {
  std::fprintf(stderr, "zv8810-sim: resident of %zu bytes started\n", upload_.Image().size());
  state_ = State::Resident;
  hardware_.PowerUp();
  faults_.ResidentStarted();
  cpu_.Start(upload_.Image());
}

void TSimDevice::WakeCpuAt(Clock::time_point when) {
  const std::uint64_t token = ++wakeToken_;
  scheduler_.At(when, [this, token] {
    if (token == wakeToken_ && state_ == State::Resident) RunCpu();
  });
}

void TSimDevice::RunCpu() {
  switch (cpu_.Run(CpuSlice)) {
    case TArmCpu::TStop::Stalled:
      WakeCpuAt(hardware_.WakeTime());  // or earlier, when bytes arrive
      break;
    case TArmCpu::TStop::Budget:
      WakeCpuAt(Clock::now());  // still busy: go on after the event loop had its turn
      break;
    case TArmCpu::TStop::Faulted:
      std::fprintf(stderr, "zv8810-sim: the processor stopped: %s\n", cpu_.FaultText().c_str());
      ++wakeToken_;  // dead until a restart
      break;
    case TArmCpu::TStop::Reset:
      std::fprintf(stderr, "zv8810-sim: reset by the resident\n");
      EnterFirmware();
      break;
  }
}

}  // namespace sim
