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
  void Send(std::uint8_t byte);
  void WriteDue();
  bool WantsWrite() const;
  // Microseconds until the line has something to do on its own, -1 for nothing.
  std::int64_t NextTimeoutUs() const;
  // Drops what has not reached the device yet (a restarting device does not see it).
  void DropInput();
  std::uint64_t BytesReceived() const { return received_; }
  std::uint64_t BytesSent() const { return sent_; }

 private:
  static constexpr std::size_t kInboxLimit = 64 * 1024;
  static constexpr std::size_t kOutboxLimit = 64 * 1024;
  double ByteMs() const;
  // The settings the updater applied, read from the terminal at most every few milliseconds
  // (the updater changes them only while it opens the port).
  void RefreshSettings() const;

  plat::TPty& pty_;
  const bool timing_;
  int expectedBaud_ = 115200;
  bool expectedOdd_ = false;
  std::deque<std::pair<Clock::time_point, std::uint8_t>> inbox_;
  Clock::time_point inClock_{};
  std::deque<std::uint8_t> outbox_;
  Clock::time_point outReady_{};
  std::uint64_t received_ = 0;
  std::uint64_t sent_ = 0;
  mutable Clock::time_point settingsRead_{};
  mutable int speed_ = 0;
  mutable bool odd_ = false;
};

// What a byte sent with other line settings looks like at the far end.
std::uint8_t Garble(std::uint8_t byte);

}  // namespace sim
