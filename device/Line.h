// The device's end of the serial line: a pseudo-terminal whose other end the updater opens.
// Bytes count as garbled when the line settings the updater applied do not match what the
// device's current state expects; with timing on, bytes take their time on the line. Between
// the line and the updater an adapter may hold the bytes towards the updater (its latency
// timer).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "device/Scheduler.h"
#include "device/SimFraming.h"
#include "platform/Pty.h"

namespace sim {

// A USB-serial adapter's receive buffer: bytes from the line gather there and go on to the
// computer together when PacketBytes have gathered or when the latency timer, started by the
// first byte held, expires. A latency of zero passes every byte on as it arrives.
class TAdapterHold {
 public:
  static constexpr std::size_t PacketBytes = 62;

  explicit TAdapterHold(Clock::duration latency) : latency_(latency) {}

  struct TRelease {
    Clock::time_point At;     // when this byte goes on to the computer
    std::size_t AlsoEarlier;  // how many of the bytes added just before it now leave with it
  };
  // A byte reaches the adapter at `arrival` (arrivals never go back in time).
  TRelease Add(Clock::time_point arrival);

 private:
  const Clock::duration latency_;
  std::size_t held_ = 0;
  Clock::time_point first_{};
};

class TLine {
 public:
  TLine(plat::TPty& pty, bool timing, Clock::duration adapterLatency = Clock::duration::zero())
      : pty_(pty), timing_(timing), hold_(adapterLatency) {}

  // What the device's state expects of the updater's settings.
  void Expect(int baud, bool oddParity);
  bool SettingsMatch() const;

  // Reads what the terminal holds (when there is room in the inbox).
  void ReadAvailable();
  bool WantsRead() const { return inbox_.size() < kInboxLimit; }
  // The bytes read so far. They are handed over at once, the device's clock set to the time the
  // last of them is through the line (LastArrival): the device acts on them no earlier than a
  // real one would, without a wake-up that could come late.
  Bytes TakeArrived();
  Clock::time_point LastArrival() const { return lastArrival_; }
  // Queues bytes for the updater; with timing, none starts on the line before notBefore (the
  // device's own clock, which runs ahead of the wall clock while its flash is busy).
  void Send(const Bytes& bytes, Clock::time_point notBefore = {});
  void Send(const char* text, Clock::time_point notBefore = {});
  void Send(std::uint8_t byte, Clock::time_point notBefore = {});
  void WriteDue();
  bool WantsWrite() const;
  // Microseconds until the line has something to do on its own, -1 for nothing.
  std::int64_t NextTimeoutUs() const;
  // Drops what has not reached the device yet (a restarting device does not see it).
  void DropInput();
  std::uint64_t BytesReceived() const { return received_; }
  std::uint64_t BytesSent() const { return sent_; }
  // Bytes the terminal had no room for (nobody read the other end): lost, as on a real line.
  std::uint64_t BytesDropped() const { return dropped_; }
  // How late the simulator itself was, summed over every reply: giving the updater a reply's
  // last byte after it was due. With timing this is what the simulator adds beyond the line's
  // own time.
  double LateMs() const { return lateUs_ / 1000.0; }
  // The median of that lateness over the replies, in microseconds (0 with none).
  double MedianLateUs() const { return Median(latesUs_); }
  // The updater's turnaround as the device sees it: from a reply's last byte written to the
  // terminal to the next bytes read from it; the median in microseconds (0 with none).
  double MedianTurnaroundUs() const { return Median(turnaroundsUs_); }

 private:
  static constexpr std::size_t kInboxLimit = 64 * 1024;
  static constexpr std::size_t kOutboxLimit = 64 * 1024;
  static constexpr std::size_t kTurnaroundLimit = 1 << 20;
  Clock::duration ByteTime() const;
  static double Median(std::vector<std::int64_t> values);
  // The settings the updater applied, read from the terminal at most every few milliseconds
  // (the updater changes them only while it opens the port).
  void RefreshSettings() const;

  struct TOutByte {
    Clock::time_point Due;  // when the updater's side may have it
    std::uint8_t Byte;
  };

  plat::TPty& pty_;
  const bool timing_;
  TAdapterHold hold_;
  int expectedBaud_ = 115200;
  bool expectedOdd_ = false;
  std::deque<std::pair<Clock::time_point, std::uint8_t>> inbox_;
  Clock::time_point inClock_{};
  Clock::time_point lastArrival_{};
  std::deque<TOutByte> outbox_;
  Clock::time_point lineFree_{};  // the end of the last byte on the line towards the updater
  std::uint64_t received_ = 0;
  std::uint64_t sent_ = 0;
  std::uint64_t dropped_ = 0;
  double lateUs_ = 0;
  Clock::time_point lastWritten_{};  // the end of the last reply, while no bytes came since
  std::vector<std::int64_t> turnaroundsUs_;
  std::vector<std::int64_t> latesUs_;
  mutable Clock::time_point settingsRead_{};
  mutable int speed_ = 0;
  mutable bool odd_ = false;
};

// What a byte sent with other line settings looks like at the far end.
std::uint8_t Garble(std::uint8_t byte);

}  // namespace sim
