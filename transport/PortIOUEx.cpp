#include "transport/PortIOUEx.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/ComRegistry.h"

namespace {

std::mutex traceLock;
TWireTrace wireTrace;

void Trace(int port, bool outgoing, const std::uint8_t* bytes, int count) {
  std::lock_guard<std::mutex> lock(traceLock);
  if (wireTrace) wireTrace(port, outgoing, bytes, count);
}

}  // namespace

void SetWireTrace(TWireTrace trace) {
  std::lock_guard<std::mutex> lock(traceLock);
  wireTrace = std::move(trace);
}

// ---- TOutBuffer ----

TOutBuffer::~TOutBuffer() {
  // Lets a Put or Get in progress finish.
  if (Lock.TryLockFor(RingLockWaitMs)) Lock.Unlock();
}

void TOutBuffer::Reset() {
  bool locked = Lock.TryLockFor(RingLockWaitMs);
  std::memset(Ring, 0, sizeof Ring);
  ReadPos = WritePos = 0;
  Count_ = 0;
  Ready = true;
  if (locked) Lock.Unlock();
  Owner->SpaceEvent.Set();
}

bool TOutBuffer::Put(const std::uint8_t* bytes, int count) {
  if (count <= 0) return true;
  int remaining = count;
  while (remaining > 0) {
    Owner->SpaceEvent.Wait(-1);
    if (!Lock.TryLockFor(RingLockWaitMs)) return false;
    if (!Ready) {
      Lock.Unlock();
      return false;
    }
    int n = std::min(remaining, RingSize - Count_);
    for (int i = 0; i < n; ++i) {
      Ring[WritePos] = *bytes++;
      WritePos = (WritePos + 1) % RingSize;
    }
    Count_ += n;
    if (Count_ == RingSize) Owner->SpaceEvent.Reset();
    Lock.Unlock();
    Owner->DataEvent.Set();
    remaining -= n;
  }
  return true;
}

bool TOutBuffer::Get(std::uint8_t* destination, int& count) {
  count = 0;
  if (!Lock.TryLockFor(RingLockWaitMs)) return false;
  if (!Ready) {
    Lock.Unlock();
    return false;
  }
  for (int i = 0; i < Count_; ++i) {
    destination[i] = Ring[ReadPos];
    ReadPos = (ReadPos + 1) % RingSize;
  }
  count = Count_;
  Count_ = 0;
  Owner->SpaceEvent.Set();
  Lock.Unlock();
  return true;
}

int TOutBuffer::Count() {
  if (!Lock.TryLockFor(RingLockWaitMs)) return 0;
  int count = Count_;
  Lock.Unlock();
  return count;
}

// ---- TPortIO ----

TPortIO::TPortIO() {
  Timer =
      plat::TTimerQueue::Instance().Create([this] { TimerFired(); }, IdlePeriodMs, IdlePeriodMs);
  Writer = std::thread([this] { WriterLoop(); });
}

TPortIO::~TPortIO() {
  Close();
  plat::TTimerQueue::Instance().Delete(Timer);
  WriterStop = true;
  DataEvent.Set();
  if (Writer.get_id() == std::this_thread::get_id())
    Writer.detach();
  else
    Writer.join();
}

bool TPortIO::IsOpen() const {
  std::lock_guard<std::mutex> lock(DeviceLock);
  return Device.IsOpen();
}

bool TPortIO::Open() {
  {
    std::lock_guard<std::mutex> lock(DeviceLock);
    if (Device.IsOpen()) return false;
    std::string path = plat::DevicePathOf(PortNumber);
    if (path.empty()) {
      lastOpenError_ = ENOENT;
      return false;
    }
    if (!Device.Open(path)) {
      lastOpenError_ = Device.LastError();
      return false;
    }
    plat::TLineSettings settings;
    settings.BaudRate = LineProps.BaudRate;
    settings.Parity = LineProps.Parity;
    settings.StopBits = LineProps.StopBits;
    if (!Device.Apply(settings)) {
      lastOpenError_ = Device.LastError();
      Device.Close();
      return false;
    }
    Device.Purge();
    lastOpenError_ = 0;
    Deframer.Clear();
    int readerFd = ::dup(Device.Fd());
    ReaderWake = std::make_shared<plat::TWakeup>();
    Reader = std::thread([this, readerFd, wake = ReaderWake] { ReaderLoop(readerFd, wake); });
  }
  OutBuffer.Reset();
  return true;
}

void TPortIO::Close() {
  DisarmTimeout();
  if (!IsOpen()) return;
  // The reader ends before the device is closed and before a next Open starts another one.
  if (ReaderWake) ReaderWake->Signal();
  if (Reader.joinable()) {
    if (Reader.get_id() == std::this_thread::get_id())
      Reader.detach();  // called from inside a callback: the reader leaves after it returns
    else
      Reader.join();
  }
  TxEmptyEvent.Set();
  std::unique_lock<std::mutex> lock(DeviceLock);
  // Bytes already queued still go out (a restart command written just before Close must reach
  // the receiver); a line that takes none is not waited for beyond the bound.
  WriteDone.wait_for(lock, std::chrono::milliseconds(CloseDrainMs),
                     [this] { return !Writing && OutBuffer.Count() == 0; });
  Closing = true;
  WriterWake.Signal();
  WriteDone.wait(lock, [this] { return !Writing; });
  WriterWake.Clear();
  Closing = false;
  Device.Close();
  ReaderWake.reset();
}

void TPortIO::SetPortNumber(int number) {
  if (number == PortNumber) return;
  bool wasOpen = IsOpen();
  Close();
  PortNumber = number;
  if (wasOpen) Open();
}

std::string TPortIO::PortName(bool deviceForm) const {
  if (deviceForm) return plat::DevicePathOf(PortNumber);
  return "COM" + std::to_string(PortNumber);
}

void TPortIO::Purge() {
  {
    std::lock_guard<std::mutex> lock(DeviceLock);
    if (!Device.IsOpen()) return;
    Device.Purge();
  }
  Deframer.Hunt();
}

void TPortIO::SetFramed(bool framed) {
  std::lock_guard<std::mutex> lock(FramedLock);
  Framed_ = framed;
}

bool TPortIO::Framed() const {
  std::lock_guard<std::mutex> lock(FramedLock);
  return Framed_;
}

void TPortIO::Write(const std::uint8_t* bytes, int count) {
  if (!IsOpen()) return;
  if (!Framed()) {
    OutBuffer.Put(bytes, count);
    return;
  }
  std::lock_guard<std::mutex> lock(FrameWriteLock);
  int length = BuildDleFrame(bytes, count, FrameBuffer);
  if (length > 0) OutBuffer.Put(FrameBuffer, length);
}

void TPortIO::ExpectAnswer(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(AnswerLock);
    ReceivedText.clear();
    ExpectedAnswer = text;
  }
  AnswerEvent.Reset();
}

void TPortIO::ArmTimeout() {
  std::lock_guard<std::mutex> lock(TimeoutLock);
  TimeoutArmed_ = true;
  plat::TTimerQueue::Instance().Change(Timer, TimeoutMs, IdlePeriodMs);
}

void TPortIO::DisarmTimeout() {
  std::lock_guard<std::mutex> lock(TimeoutLock);
  TimeoutArmed_ = false;
  plat::TTimerQueue::Instance().Change(Timer, IdlePeriodMs, IdlePeriodMs);
}

bool TPortIO::TimeoutArmed() const {
  std::lock_guard<std::mutex> lock(TimeoutLock);
  return TimeoutArmed_;
}

void TPortIO::TimerFired() {
  {
    std::lock_guard<std::mutex> lock(TimeoutLock);
    if (!TimeoutArmed_) return;
  }
  DisarmTimeout();
  OnTimeout(this);
}

void TPortIO::ReaderLoop(int fd, std::shared_ptr<plat::TWakeup> wake) {
  for (;;) {
    plat::TWaitResult result = plat::WaitReadable(fd, wake->Fd());
    if (result != plat::TWaitResult::Readable) break;  // woken by Close, or the device is gone
    int waiting = plat::BytesWaiting(fd);
    bool gone = false;
    do {
      ssize_t n = ::read(fd, RxBuffer, static_cast<size_t>(std::clamp(waiting, 1, RxBufferSize)));
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        gone = true;  // end of file, hang-up or I/O error: the device vanished
        break;
      }
      if (n < 0) break;
      Trace(PortNumber, false, RxBuffer, static_cast<int>(n));
      ProcessChunk(RxBuffer, static_cast<int>(n));
      waiting -= static_cast<int>(n);
      pollfd wakeCheck{wake->Fd(), POLLIN, 0};
      if (::poll(&wakeCheck, 1, 0) > 0) {
        gone = true;
        break;
      }
    } while (waiting > 0);
    if (gone) break;
  }
  ::close(fd);
}

void TPortIO::ProcessChunk(const std::uint8_t* bytes, int count) {
  if (Framed()) {
    Deframer.Feed(bytes, count,
                  [this](const std::uint8_t* packet, int length) { OnPacket(packet, length); });
  }
  OnData(bytes, count);
  bool matched = false;
  std::string answer;
  {
    std::lock_guard<std::mutex> lock(AnswerLock);
    if (!ExpectedAnswer.empty()) {
      ReceivedText.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
      if (ReceivedText.find(ExpectedAnswer) != std::string::npos) {
        matched = true;
        answer = ExpectedAnswer;
        ExpectedAnswer.clear();
        ReceivedText.clear();
      }
    }
    if (ReceivedText.size() > 40) ReceivedText.erase(0, 20);
  }
  if (matched && OnAnswer(bytes, count, answer)) AnswerEvent.Set();
}

void TPortIO::WriterLoop() {
  std::uint8_t buffer[RingSize];
  for (;;) {
    DataEvent.Wait(-1);
    if (WriterStop) return;
    int count = 0;
    if (!OutBuffer.Get(buffer, count) || count == 0) continue;
    int fd;
    {
      std::lock_guard<std::mutex> lock(DeviceLock);
      if (!Device.IsOpen() || Closing) {
        WriteDone.notify_all();
        continue;  // bytes for a closed port are lost
      }
      Writing = true;
      fd = Device.Fd();
    }
    bool written = plat::WriteAll(fd, buffer, static_cast<size_t>(count), WriterWake.Fd());
    if (written) {
      Trace(PortNumber, true, buffer, count);
      // The transmitter has run empty when the driver's output queue is empty.
      while (plat::BytesUnsent(fd) > 0) {
        pollfd wakeCheck{WriterWake.Fd(), POLLIN, 0};
        if (::poll(&wakeCheck, 1, 2) != 0) break;
      }
      TxEmptyEvent.Set();
    }
    {
      std::lock_guard<std::mutex> lock(DeviceLock);
      Writing = false;
    }
    WriteDone.notify_all();
  }
}
