// The serial device on Windows: an exclusive, overlapped handle on "\\.\COMn". The reader sleeps
// in WaitCommEvent (EV_RXCHAR) and drains what ClearCommError reports as waiting; the writer
// writes with its own overlapped record and watches the driver's output queue run empty. Each
// side has a manual-reset event that wakes it.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/SerialDevice.h"
#include "platform/Win32Errors.h"

namespace plat {

namespace {

// An overlapped record with its own manual-reset event.
struct TOverlapped {
  OVERLAPPED ov{};
  TOverlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~TOverlapped() {
    if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  }
  TOverlapped(const TOverlapped&) = delete;
  TOverlapped& operator=(const TOverlapped&) = delete;
  void Rearm() {
    HANDLE event = ov.hEvent;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = event;
    ResetEvent(event);
  }
};

// How often the reader looks at the driver's queue when the driver cannot wait for comm events
// (Wine on a pseudo-terminal fails every WaitCommEvent, since the modem lines cannot be read).
constexpr DWORD kPollMs = 2;

// The name of the mutex that a process holding the device keeps: "\\.\com7" and "\\.\COM7"
// give the same name, and backslashes (reserved in object names) become underscores.
std::string UseLockName(const std::string& path) {
  std::string name = "Local\\zv8810-serial-";
  for (char c : path) {
    if (c == '\\') c = '_';
    name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return name;
}

// After this many comm-event completions in a row that report no event and find nothing
// waiting, the reader pauses 1 ms between waits so that such a driver cannot make it spin.
constexpr int kEmptyCompletionsBeforePause = 8;

}  // namespace

struct TSerialDevice::TNative {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE readerWake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE writerWake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TOverlapped commWait;  // the reader's WaitCommEvent
  TOverlapped reading;   // the reader's ReadFile
  TOverlapped writing;   // the writer's WriteFile
  DWORD eventMask = 0;
  bool waitPending = false;  // a WaitCommEvent is outstanding (survives a Woken or TimedOut)
  bool polling = false;      // the driver cannot wait for comm events: its queue is looked at
  HANDLE useLock = nullptr;  // the named mutex that marks the device as in use by us

  ~TNative() {
    CloseHandle(readerWake);
    CloseHandle(writerWake);
  }
};

TSerialDevice::TSerialDevice() : native_(std::make_unique<TNative>()) {}

TSerialDevice::~TSerialDevice() {
  Close();
}

bool TSerialDevice::IsOpen() const {
  return native_->handle != INVALID_HANDLE_VALUE;
}

bool TSerialDevice::Open(const std::string& path) {
  if (IsOpen()) return false;
  // The device is opened without sharing, which the system enforces; the named mutex also keeps
  // out a second open where a driver does not (Wine's ports on pseudo-terminals).
  HANDLE useLock = CreateMutexA(nullptr, FALSE, UseLockName(path).c_str());
  if (useLock != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(useLock);
    lastError_ = EBUSY;
    return false;
  }
  auto fail = [&](int error, HANDLE handle) {
    lastError_ = error;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (useLock != nullptr) CloseHandle(useLock);
    return false;
  };
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(ErrnoOfWin32Error(GetLastError()), handle);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return fail(ENOTTY, handle);
  // A read returns at once with what is waiting; a write may take 10 s per byte plus 100 ms.
  COMMTIMEOUTS timeouts{};
  if (GetCommTimeouts(handle, &timeouts)) {
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 10000;
    timeouts.WriteTotalTimeoutConstant = 100;
    SetCommTimeouts(handle, &timeouts);  // a driver that refuses keeps its own: not fatal
  }
  SetCommMask(handle, EV_RXCHAR);
  native_->handle = handle;
  native_->useLock = useLock;
  native_->waitPending = false;
  native_->polling = false;
  native_->eventMask = 0;
  ResetEvent(native_->readerWake);
  ResetEvent(native_->writerWake);
  lastError_ = 0;
  lostError_ = 0;
  return true;
}

bool TSerialDevice::Apply(const TLineSettings& settings) {
  if (!IsOpen()) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(native_->handle, &dcb)) {
    lastError_ = EINVAL;
    return false;
  }
  dcb.BaudRate = static_cast<DWORD>(SupportedBaudRate(settings.BaudRate));
  dcb.ByteSize = 8;
  dcb.XonLim = 2048;
  dcb.XoffLim = 2048;
  dcb.Parity = settings.Parity;
  dcb.StopBits = settings.StopBits;
  // A raw line with the modem lines ignored: no handshake holds the transmitter back, and a line
  // error never blocks further reads and writes (the reader clears errors at every event).
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(native_->handle, &dcb)) {
    lastError_ = EINVAL;
    return false;
  }
  return true;
}

void TSerialDevice::Purge() {
  if (IsOpen()) PurgeComm(native_->handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void TSerialDevice::Close() {
  if (!IsOpen()) return;
  HANDLE handle = native_->handle;
  // An empty mask completes a comm-event wait left pending by a Woken or TimedOut read; it must
  // have completed before its record goes away.
  SetCommMask(handle, 0);
  if (native_->waitPending) {
    CancelIoEx(handle, &native_->commWait.ov);
    DWORD ignored = 0;
    GetOverlappedResult(handle, &native_->commWait.ov, &ignored, TRUE);
    native_->waitPending = false;
  }
  CloseHandle(handle);
  native_->handle = INVALID_HANDLE_VALUE;
  if (native_->useLock != nullptr) CloseHandle(native_->useLock);
  native_->useLock = nullptr;
}

namespace {

// Waits for the wake event or the operation's event; the wake event wins a tie.
enum class TWaitEnd { Woken, Completed, TimedOut, Failed };

TWaitEnd WaitForEither(HANDLE wake, HANDLE operation, DWORD timeoutMs) {
  HANDLE handles[2] = {wake, operation};
  DWORD got = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (got == WAIT_OBJECT_0) return TWaitEnd::Woken;
  if (got == WAIT_OBJECT_0 + 1) return TWaitEnd::Completed;
  if (got == WAIT_TIMEOUT) return TWaitEnd::TimedOut;
  return TWaitEnd::Failed;
}

bool IsSignalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

TIoStatus TSerialDevice::Read(std::uint8_t* buffer, int capacity, int& count, int timeoutMs) {
  count = 0;
  TNative& n = *native_;
  const HANDLE handle = n.handle;
  const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  const ULONGLONG deadline = timeoutMs < 0 ? 0 : GetTickCount64() + static_cast<DWORD>(timeoutMs);
  int emptyCompletions = 0;
  auto lost = [&](DWORD error) {
    lostError_ = ErrnoOfWin32Error(error);
    return TIoStatus::Lost;
  };
  for (;;) {
    if (IsSignalled(n.readerWake)) return TIoStatus::Woken;

    // Bytes already waiting are taken before the next comm-event wait starts, so none can sit
    // unreported between a drained event and the next one.
    DWORD errors = 0;
    COMSTAT status{};
    if (!n.waitPending) {
      if (!ClearCommError(handle, &errors, &status)) return lost(GetLastError());
      if (status.cbInQue > 0) {
        DWORD wanted = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(capacity));
        DWORD got = 0;
        n.reading.Rearm();
        if (!ReadFile(handle, buffer, wanted, &got, &n.reading.ov)) {
          if (GetLastError() != ERROR_IO_PENDING) return lost(GetLastError());
          // The read time-outs make it complete at once with what is waiting.
          if (!GetOverlappedResult(handle, &n.reading.ov, &got, TRUE)) return lost(GetLastError());
        }
        if (got > 0) {
          count = static_cast<int>(got);
          return TIoStatus::Done;
        }
      }
      if (!n.polling) {
        n.eventMask = 0;
        n.commWait.Rearm();
        if (!WaitCommEvent(handle, &n.eventMask, &n.commWait.ov)) {
          DWORD error = GetLastError();
          if (error == ERROR_IO_PENDING) {
            n.waitPending = true;
          } else {
            // A device that still answers but cannot wait for events is looked at instead.
            if (!ClearCommError(handle, &errors, &status)) return lost(error);
            n.polling = true;
          }
        }
      }
    }

    if (n.polling) {
      DWORD wait = kPollMs;
      if (timeoutMs >= 0) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return TIoStatus::TimedOut;
        wait = std::min<DWORD>(wait, static_cast<DWORD>(deadline - now));
      }
      if (WaitForSingleObject(n.readerWake, wait) == WAIT_OBJECT_0) return TIoStatus::Woken;
      continue;
    }

    if (n.waitPending) {
      DWORD wait = limit;
      if (timeoutMs >= 0) {
        ULONGLONG now = GetTickCount64();
        wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      }
      switch (WaitForEither(n.readerWake, n.commWait.ov.hEvent, wait)) {
        case TWaitEnd::Woken:
          return TIoStatus::Woken;  // the wait stays pending; the next Read or Close takes it
        case TWaitEnd::TimedOut:
          return TIoStatus::TimedOut;
        case TWaitEnd::Failed:
          return lost(GetLastError());
        case TWaitEnd::Completed:
          break;
      }
      DWORD ignored = 0;
      n.waitPending = false;
      if (!GetOverlappedResult(handle, &n.commWait.ov, &ignored, FALSE)) {
        DWORD error = GetLastError();
        if (!ClearCommError(handle, &errors, &status)) return lost(error);
        n.polling = true;  // the wait failed but the device answers: look at its queue instead
        continue;
      }
    }
    // Some drivers complete the wait with an empty mask now and then although nobody cleared
    // the mask: that is no request to leave (only WakeReader is), so the reader waits again.
    if ((n.eventMask & EV_RXCHAR) == 0) {
      if (ClearCommError(handle, &errors, &status) && status.cbInQue == 0 &&
          ++emptyCompletions >= kEmptyCompletionsBeforePause)
        Sleep(1);
      if (timeoutMs >= 0 && GetTickCount64() >= deadline) return TIoStatus::TimedOut;
    } else {
      emptyCompletions = 0;
    }
  }
}

void TSerialDevice::WakeReader() {
  SetEvent(native_->readerWake);
}

TIoStatus TSerialDevice::Write(const std::uint8_t* bytes, int count) {
  TNative& n = *native_;
  const HANDLE handle = n.handle;
  DWORD left = count > 0 ? static_cast<DWORD>(count) : 0;
  while (left > 0) {
    if (IsSignalled(n.writerWake)) return TIoStatus::Woken;
    DWORD written = 0;
    n.writing.Rearm();
    if (!WriteFile(handle, bytes, left, &written, &n.writing.ov)) {
      if (GetLastError() != ERROR_IO_PENDING) {
        lostError_ = ErrnoOfWin32Error(GetLastError());
        return TIoStatus::Lost;
      }
      TWaitEnd end = WaitForEither(n.writerWake, n.writing.ov.hEvent, INFINITE);
      if (end == TWaitEnd::Woken) {
        // The bytes and the record must outlive the write: cancel it and wait for its end.
        CancelIoEx(handle, &n.writing.ov);
        GetOverlappedResult(handle, &n.writing.ov, &written, TRUE);
        return TIoStatus::Woken;
      }
      if (!GetOverlappedResult(handle, &n.writing.ov, &written, TRUE)) {
        lostError_ = ErrnoOfWin32Error(GetLastError());
        return TIoStatus::Lost;
      }
    }
    // A write that timed out took part of the bytes (or none): the rest goes out next.
    bytes += written;
    left -= std::min(written, left);
  }
  return TIoStatus::Done;
}

TIoStatus TSerialDevice::WaitSent() {
  // The transmitter has run empty when the driver's output queue is empty; it is looked at every
  // 2 ms (EV_TXEMPTY belongs to the reader's wait).
  for (;;) {
    if (WaitForSingleObject(native_->writerWake, 0) == WAIT_OBJECT_0) return TIoStatus::Woken;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(native_->handle, &errors, &status)) {
      lostError_ = ErrnoOfWin32Error(GetLastError());
      return TIoStatus::Lost;
    }
    if (status.cbOutQue == 0) return TIoStatus::Done;
    if (WaitForSingleObject(native_->writerWake, 2) == WAIT_OBJECT_0) return TIoStatus::Woken;
  }
}

void TSerialDevice::WakeWriter() {
  SetEvent(native_->writerWake);
}

void TSerialDevice::RearmWriter() {
  ResetEvent(native_->writerWake);
}

}  // namespace plat
