// The serial port engine: one TPortIO per COM port. It opens and configures the line, runs a
// reader that delivers raw chunks (OnData), de-framed packets (OnPacket, framed mode) and the
// arrival of an awaited text (AnswerEvent, after OnAnswer when one is installed), queues output in
// a ring that a writer drains, and keeps a one-shot answer time-out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Callback.h"
#include "platform/ComRegistry.h"
#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "platform/TimedLock.h"
#include "platform/TimerQueue.h"
#include "transport/DleFraming.h"

constexpr std::int64_t IdlePeriodMs = 36'000'000;  // ten hours: a timer that is not armed
constexpr int DefaultTimeoutMs = 2500;
constexpr int RingSize = 1024;
constexpr int RxBufferSize = 1024;
constexpr int RingLockWaitMs = 2000;
constexpr int CloseDrainMs = 1000;  // how long Close lets queued bytes go out

class TPortIO;

// Line settings that Open applies; callers change them while the port is closed.
struct TComProp {
  std::int32_t BaudRate = 19200;
  std::uint8_t Parity = 1;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// The output ring of one port.
class TOutBuffer {
 public:
  explicit TOutBuffer(TPortIO* owner) : Owner(owner) {}
  ~TOutBuffer();
  TOutBuffer(const TOutBuffer&) = delete;
  TOutBuffer& operator=(const TOutBuffer&) = delete;

  // Empties the ring and makes it ready (at every Open).
  void Reset();
  // Copies all bytes in, waiting while the ring is full; false when the ring's lock cannot be had.
  bool Put(const std::uint8_t* bytes, int count);
  // Takes every byte held into destination (RingSize bytes).
  bool Get(std::uint8_t* destination, int& count);
  int Count();

 private:
  TPortIO* const Owner;
  std::uint8_t Ring[RingSize] = {};
  bool Ready = false;
  int ReadPos = 0;
  int WritePos = 0;
  std::int32_t Count_ = 0;
  plat::TTimedLock Lock;
};

// Wire trace for field reports: every chunk in and every write out, with the port number.
using TWireTrace =
    std::function<void(int port, bool outgoing, const std::uint8_t* bytes, int count)>;
void SetWireTrace(TWireTrace trace);

class TPortIO {
  friend struct TPortIOSeam;  // the fuzz target feeds received chunks

 public:
  TPortIO();
  ~TPortIO();
  TPortIO(const TPortIO&) = delete;
  TPortIO& operator=(const TPortIO&) = delete;

  bool Open();
  void Close();
  bool IsOpen() const;
  // The port by its number: the registry names its device at each Open.
  void SetPortNumber(int number);
  // The port by its number and the device already resolved for it (a job resolves it once).
  void SetPort(const plat::TPortEntry& port);
  // "COM7", or in device form the path of the device behind it.
  std::string PortName(bool deviceForm) const;
  void Purge();
  void SetFramed(bool framed);
  bool Framed() const;
  void Write(const std::uint8_t* bytes, int count);
  void ExpectAnswer(const std::string& text);
  void ArmTimeout();
  void DisarmTimeout();
  bool TimeoutArmed() const;
  // errno of the last Open that failed (0 after a successful one).
  int LastOpenError() const { return lastOpenError_.load(); }
  // The device failed or went away while open (an unplugged adapter): why, as an errno value;
  // 0 while it was not lost. Cleared by the next Open.
  int LostError() const { return lostError_.load(); }
  bool Lost() const { return LostError() != 0; }

  // Plain fields that callers set while no traffic depends on them.
  std::int32_t TimeoutMs = DefaultTimeoutMs;
  std::int32_t PortNumber = 2;
  TComProp LineProps;

  plat::TEvent DataEvent{plat::TEvent::ResetMode::Auto, false};
  plat::TEvent SpaceEvent{plat::TEvent::ResetMode::Manual, true};
  plat::TEvent TxEmptyEvent{plat::TEvent::ResetMode::Auto, false};
  plat::TEvent AnswerEvent{plat::TEvent::ResetMode::Auto, false};

  plat::TCallback<TPortIO*> OnTimeout;
  plat::TCallback<const std::uint8_t*, int> OnData;
  plat::TCallback<const std::uint8_t*, int> OnPacket;
  plat::TCallback<const std::uint8_t*, int, const std::string&> OnAnswer;
  // Called once, on the reader or writer thread, when the device is lost.
  plat::TCallback<TPortIO*> OnLost;

 private:
  void ReaderLoop();
  void MarkLost(int error);
  void ProcessChunk(const std::uint8_t* bytes, int count);
  void WriterLoop();
  void TimerFired();

  mutable std::mutex FramedLock;
  bool Framed_ = false;

  mutable std::mutex TimeoutLock;
  bool TimeoutArmed_ = false;
  plat::TTimerQueue::TimerId Timer = 0;

  TOutBuffer OutBuffer{this};
  std::uint8_t FrameBuffer[FrameBufferSize] = {};
  std::mutex FrameWriteLock;  // framed writes on one port never overlap

  std::mutex AnswerLock;
  std::string ExpectedAnswer;
  std::string ReceivedText;

  std::uint8_t RxBuffer[RxBufferSize] = {};
  TDeframer Deframer;

  // The device and its threads. DeviceLock guards the device against the writer while it is
  // opened, purged or closed; the reader is joined before the device closes.
  mutable std::mutex DeviceLock;
  std::condition_variable WriteDone;
  plat::TSerialDevice Device;
  bool Writing = false;  // the writer is inside a write on the device (DeviceLock)
  bool Closing = false;  // Close waits for that write to end (DeviceLock)
  std::thread Reader;
  std::thread Writer;
  std::atomic<bool> WriterStop{false};
  std::atomic<int> lastOpenError_{0};
  std::atomic<int> lostError_{0};
  std::string devicePath_;  // empty: resolved from PortNumber at each Open
};
