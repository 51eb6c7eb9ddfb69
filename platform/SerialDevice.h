// The serial device of the operating system, behind a small interface of our own: opening and
// configuring the line, and the waits the port engine's reader and writer threads block in. One
// implementation file per operating system (SerialDevicePosix.cpp, SerialDeviceWin32.cpp).
#pragma once

#include "platform/OpenFailure.h"  // the reasons of a failed open

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

struct TLineSettings {
  int BaudRate = 115200;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// The bit rates the port engine applies; anything else runs the line at 115200.
int SupportedBaudRate(int requested);

// How a wait of the reader or the writer ended.
enum class TIoStatus {
  Done,      // bytes were read, or all bytes were written / sent
  Woken,     // WakeReader / WakeWriter asked the waiting thread to leave
  TimedOut,  // a bounded read saw nothing in its time
  Lost,      // the device failed or went away (LostError says why)
};

// One open serial device: exclusive use, raw line, 8 data bits, modem lines ignored, no hang-up
// on close.
//
// Threads: the owner serialises Open, Apply, Purge and Close, and calls Close only while no Read,
// Write or WaitSent runs. One reader thread may Read while one writer thread may Write and
// WaitSent; WakeReader and WakeWriter may be called from any thread while the device is open.
class TSerialDevice {
 public:
  TSerialDevice();
  ~TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  // Opens the device for reading and writing without sharing. On failure the error is kept.
  bool Open(const std::string& path);
  // Applies the line settings; false when the line state cannot be set.
  bool Apply(const TLineSettings& settings);
  // Discards what the driver holds in both directions.
  void Purge();
  void Close();
  bool IsOpen() const;
  // The reason of the last failed Open or Apply (an errno value on every system).
  int LastError() const { return lastError_; }

  // The reader's side. Waits until bytes arrive, WakeReader is called, the time is up (a
  // negative time waits without limit) or the device fails; then takes what the driver holds,
  // at most capacity bytes. Woken is only ever the answer to WakeReader, never to anything the
  // line or the driver does.
  TIoStatus Read(std::uint8_t* buffer, int capacity, int& count, int timeoutMs = -1);
  // Makes the Read in progress, or the next one, return Woken; Open clears the request.
  void WakeReader();

  // The writer's side. Writes all bytes, waiting for room in the driver.
  TIoStatus Write(const std::uint8_t* bytes, int count);
  // Waits until the driver has sent everything it holds (the transmitter ran empty).
  TIoStatus WaitSent();
  // Makes the Write or WaitSent in progress, or the next one, return Woken; cleared by
  // RearmWriter and by Open.
  void WakeWriter();
  void RearmWriter();

  // Why the device was lost (an errno value), 0 while it was not.
  int LostError() const { return lostError_.load(); }

 private:
  struct TNative;  // the operating system's handles
  std::unique_ptr<TNative> native_;
  int lastError_ = 0;
  std::atomic<int> lostError_{0};
};

}  // namespace plat
