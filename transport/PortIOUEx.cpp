#include "transport/PortIOUEx.h"

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
    // A device given with the number is used as it is; otherwise the registry names it now.
    std::string path = devicePath_.empty() ? plat::DevicePathOf(PortNumber) : devicePath_;
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
    lostError_ = 0;
    Deframer.Clear();
    Reader = std::thread([this] { ReaderLoop(); });
  }
  OutBuffer.Reset();
  return true;
}

void TPortIO::Close() {
  DisarmTimeout();
  if (!IsOpen()) return;
  // The reader ends before the device is closed and before a next Open starts another one.
  Device.WakeReader();
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
  Device.WakeWriter();
  WriteDone.wait(lock, [this] { return !Writing; });
  Device.RearmWriter();
  Closing = false;
  Device.Close();
}

void TPortIO::SetPortNumber(int number) {
  SetPort(plat::TPortEntry{number, "COM" + std::to_string(number), ""});
}

void TPortIO::SetPort(const plat::TPortEntry& port) {
  if (port.Number == PortNumber && port.Device == devicePath_) return;
  bool wasOpen = IsOpen();
  Close();
  PortNumber = port.Number;
  devicePath_ = port.Device;
  if (wasOpen) Open();
}

std::string TPortIO::PortName(bool deviceForm) const {
  if (deviceForm) return devicePath_.empty() ? plat::DevicePathOf(PortNumber) : devicePath_;
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

void TPortIO::ReaderLoop() {
  for (;;) {
    int count = 0;
    plat::TIoStatus status = Device.Read(RxBuffer, RxBufferSize, count);
    if (status == plat::TIoStatus::Woken) return;  // Close wants the reader gone
    if (status == plat::TIoStatus::Lost) {
      MarkLost(Device.LostError());
      return;
    }
    if (status != plat::TIoStatus::Done) continue;
    Trace(PortNumber, false, RxBuffer, count);
    ProcessChunk(RxBuffer, count);
  }
}

void TPortIO::MarkLost(int error) {
  if (error == 0) error = ENXIO;
  int none = 0;
  if (!lostError_.compare_exchange_strong(none, error)) return;  // reported once
  OnLost(this);
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
  if (!matched) return;
  // The handler, when one is installed, runs before the event wakes a waiter: what it sends in
  // answer is queued by then.
  OnAnswer(bytes, count, answer);
  AnswerEvent.Set();
}

void TPortIO::WriterLoop() {
  std::uint8_t buffer[RingSize];
  for (;;) {
    DataEvent.Wait(-1);
    if (WriterStop) return;
    int count = 0;
    if (!OutBuffer.Get(buffer, count) || count == 0) continue;
    {
      std::lock_guard<std::mutex> lock(DeviceLock);
      if (!Device.IsOpen() || Closing || Lost()) {
        WriteDone.notify_all();
        continue;  // bytes for a closed or lost port are dropped
      }
      Writing = true;
    }
    plat::TIoStatus status = Device.Write(buffer, count);
    if (status == plat::TIoStatus::Done) {
      Trace(PortNumber, true, buffer, count);
      status = Device.WaitSent();
      if (status != plat::TIoStatus::Lost) TxEmptyEvent.Set();
    }
    if (status == plat::TIoStatus::Lost) MarkLost(Device.LostError());
    {
      std::lock_guard<std::mutex> lock(DeviceLock);
      Writing = false;
    }
    WriteDone.notify_all();
  }
}
