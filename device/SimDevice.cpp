#include "device/SimDevice.h"

#include <cstdio>

namespace sim {

TSimDevice::TSimDevice(const TSimOptions& options, TLine& line, TScheduler& scheduler)
    : options_(options),
      line_(line),
      scheduler_(scheduler),
      firmware_(options.Zorp, options.Faults,
                TWorkingFirmware::THooks{[this](const Bytes& b) { line_.Send(b); },
                                         [this] { RestartIntoBootloader(); }}) {}

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
  scheduler_.After(BootDelayMs, [this] { EnterBootloader(); });
}

void TSimDevice::EnterBootloader() {
  state_ = State::Bootloader;
  line_.Expect(115200, false);
  greetingAnswered_ = false;
  std::fprintf(stderr, "zv8810-sim: bootloader\n");
  Greet(0);
}

void TSimDevice::Greet(int elapsedMs) {
  if (elapsedMs >= GreetingWindowMs) {
    EnterFirmware();  // nobody answered: the bootloader starts the firmware
    return;
  }
  if (!options_.Faults.NoGreeting) line_.Send("#$#%");
  scheduler_.After(GreetingPeriodMs, [this, elapsedMs] { Greet(elapsedMs + GreetingPeriodMs); });
}

void TSimDevice::PowerCycle() {
  std::fprintf(stderr, "zv8810-sim: power cycle\n");
  RestartIntoBootloader();
}

void TSimDevice::Receive(const Bytes& bytes) {
  switch (state_) {
    case State::Firmware:
      firmware_.Receive(bytes);
      break;
    case State::Restarting:
      break;  // a restarting receiver hears nothing
    case State::Bootloader:
      for (std::uint8_t b : bytes) {
        if (!greetingAnswered_ && b == 0xCC) {
          // The greeting is answered; the upload that follows is the loader's next step.
          greetingAnswered_ = true;
          scheduler_.Invalidate();
          std::fprintf(stderr, "zv8810-sim: greeting answered\n");
        }
      }
      break;
  }
}

}  // namespace sim
