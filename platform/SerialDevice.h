// The serial device of the operating system, behind a small interface of our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

struct TLineSettings {
  int BaudRate = 115200;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// The bit rates the port engine applies; anything else runs the line at 115200.
int SupportedBaudRate(int requested);

// One open serial device: exclusive use, raw line, 8 data bits, modem lines ignored, no hang-up
// on close. Not thread-safe by itself; its owner serialises Open, Apply, Purge and Close.
class TSerialDevice {
 public:
  TSerialDevice() = default;
  ~TSerialDevice() { Close(); }
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  // Opens the device for reading and writing without sharing. On failure the errno is kept.
  bool Open(const std::string& path);
  // Applies the line settings; false when the line state cannot be set.
  bool Apply(const TLineSettings& settings);
  // Discards what the driver holds in both directions.
  void Purge();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  int LastError() const { return lastError_; }

 private:
  int fd_ = -1;
  int lastError_ = 0;
};

// The reason a device could not be opened and what the operator can do about it.
std::string OpenFailureReason(int error);

// Wake-up descriptor for a thread blocked in poll().
class TWakeup {
 public:
  TWakeup();
  ~TWakeup();
  TWakeup(const TWakeup&) = delete;
  TWakeup& operator=(const TWakeup&) = delete;
  void Signal();
  void Clear();
  int Fd() const { return fd_; }

 private:
  int fd_;
};

enum class TWaitResult { Readable, Woken, Hangup };

// Blocks until fd has bytes to read, wakeFd is signalled, or the device is gone.
TWaitResult WaitReadable(int fd, int wakeFd);
// Number of bytes the driver holds for reading (0 on error).
int BytesWaiting(int fd);
// Number of bytes the driver still has to send (0 on error).
int BytesUnsent(int fd);
// Writes all bytes, waiting for room; stops early when wakeFd is signalled or on an error.
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, int wakeFd);

// Line speed helpers (Linux termios2, so rates without a Bxxx constant work too).
bool SetLineSpeed(int fd, int baud);
int GetLineSpeed(int fd);

}  // namespace plat
