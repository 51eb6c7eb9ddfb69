// The device's end of the serial line: a pseudo-terminal whose other end the updater opens.
// Bytes count as garbled when the line settings the updater applied do not match what the
// device's current state expects; with timing on, bytes take their time on the line.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>

#include "device/Scheduler.h"
#include "device/SimFraming.h"
#include "platform/Pty.h"

namespace sim {

class TLine {
 public:
  TLine(plat::TPty& pty, bool timing) : pty_(pty), timing_(timing) {}

  // What the device's state expects of the updater's settings.
  void Expect(int baud, bool oddParity);
  bool SettingsMatch() const;

  // Reads what the terminal holds (when there is room in the inbox).
  void ReadAvailable();
  bool WantsRead() const { return inbox_.size() < kInboxLimit; }
  // The bytes that have arrived by now.
  Bytes TakeArrived();
  // Queues bytes for the updater.
  void Send(const Bytes& bytes);
  void Send(const char* text);
  void WriteDue();
  bool WantsWrite() const;
  // Milliseconds until the line has something to do on its own, -1 for nothing.
  int NextTimeoutMs() const;
  // Drops what has not reached the device yet (a restarting device does not see it).
  void DropInput();
  std::uint64_t BytesReceived() const { return received_; }

 private:
  static constexpr std::size_t kInboxLimit = 64 * 1024;
  static constexpr std::size_t kOutboxLimit = 64 * 1024;
  double ByteMs() const;

  plat::TPty& pty_;
  const bool timing_;
  int expectedBaud_ = 115200;
  bool expectedOdd_ = false;
  std::deque<std::pair<Clock::time_point, std::uint8_t>> inbox_;
  Clock::time_point inClock_{};
  std::deque<std::uint8_t> outbox_;
  Clock::time_point outReady_{};
  std::uint64_t received_ = 0;
};

// What a byte sent with other line settings looks like at the far end.
std::uint8_t Garble(std::uint8_t byte);

}  // namespace sim
