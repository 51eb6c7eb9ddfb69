#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/AdapterInfo.h"
#include "platform/PosixIo.h"
#include "platform/SerialDevice.h"

namespace plat {

namespace {

speed_t StandardSpeed(int baud) {
  switch (baud) {
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;  // 14400 and 56000 have no constant: set through termios2
  }
}

tcflag_t ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case 1:
      return PARENB | PARODD;
    case 2:
      return PARENB;
    case 3:
      return PARENB | PARODD | CMSPAR;
    case 4:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

// The members a pseudo-terminal keeps (it drops PARENB), compared to judge whether the line
// state took effect; the return code of tcsetattr alone is not reliable there.
bool LineMatches(int fd, int baud, tcflag_t wanted) {
  termios now{};
  if (tcgetattr(fd, &now) != 0) return false;
  const tcflag_t kept = CSIZE | PARODD | CMSPAR | CSTOPB;
  if ((now.c_cflag & kept) != (wanted & kept)) return false;
  return GetLineSpeed(fd) == baud;
}

}  // namespace

struct TSerialDevice::TNative {
  int fd = -1;
  TWakeup readerWake;
  TWakeup writerWake;
};

TSerialDevice::TSerialDevice() : native_(std::make_unique<TNative>()) {}

TSerialDevice::~TSerialDevice() {
  Close();
}

bool TSerialDevice::IsOpen() const {
  return native_->fd >= 0;
}

bool TSerialDevice::Open(const std::string& path) {
  if (IsOpen()) return false;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  if (!isatty(fd)) {
    lastError_ = ENOTTY;
    ::close(fd);
    return false;
  }
  // Exclusive use: TIOCEXCL keeps other programs out of the device (root excepted), the advisory
  // lock also keeps out a second open by root or by this same process.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lastError_ = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  ApplyLowLatency(fd, path);  // best effort: USB adapters answer without their 16 ms wait
  native_->fd = fd;
  native_->readerWake.Clear();
  native_->writerWake.Clear();
  lastError_ = 0;
  lostError_ = 0;
  return true;
}

bool TSerialDevice::Apply(const TLineSettings& settings) {
  if (!IsOpen()) return false;
  const int fd = native_->fd;
  const int baud = SupportedBaudRate(settings.BaudRate);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    lastError_ = errno;
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD | ParityFlags(settings.Parity);
  if (settings.StopBits != 0) tio.c_cflag |= CSTOPB;  // one and a half and two stop bits
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t standard = StandardSpeed(baud);
  if (standard != B0) cfsetspeed(&tio, standard);
  tcsetattr(fd, TCSANOW, &tio);
  if (standard == B0) SetLineSpeed(fd, baud);
  if (!LineMatches(fd, baud, tio.c_cflag)) {
    lastError_ = EINVAL;
    return false;
  }
  return true;
}

void TSerialDevice::Purge() {
  if (IsOpen()) tcflush(native_->fd, TCIOFLUSH);
}

void TSerialDevice::Close() {
  if (!IsOpen()) return;
  ::close(native_->fd);
  native_->fd = -1;
}

namespace {

// A wake-up request is pending: its descriptor stays readable until it is cleared.
bool Signalled(const pollfd& wake) {
  return (wake.revents & POLLIN) != 0;
}

}  // namespace

TIoStatus TSerialDevice::Read(std::uint8_t* buffer, int capacity, int& count, int timeoutMs) {
  count = 0;
  const int fd = native_->fd;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {native_->readerWake.Fd(), POLLIN, 0}};
    int n = ::poll(fds, 2, timeoutMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      lostError_ = errno;
      return TIoStatus::Lost;
    }
    if (Signalled(fds[1])) return TIoStatus::Woken;
    if (n == 0) return TIoStatus::TimedOut;
    if (fds[0].revents & POLLIN) {
      int waiting = 0;
      if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) waiting = 1;
      ssize_t got = ::read(fd, buffer, static_cast<std::size_t>(std::min(waiting, capacity)));
      if (got > 0) {
        count = static_cast<int>(got);
        return TIoStatus::Done;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of file, hang-up or an I/O error: the device went away (an unplugged adapter).
      lostError_ = got == 0 ? ENXIO : errno;
      return TIoStatus::Lost;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      lostError_ = (fds[0].revents & POLLNVAL) ? EBADF : ENXIO;
      return TIoStatus::Lost;
    }
  }
}

void TSerialDevice::WakeReader() {
  native_->readerWake.Signal();
}

TIoStatus TSerialDevice::Write(const std::uint8_t* bytes, int count) {
  const int fd = native_->fd;
  std::size_t left = count > 0 ? static_cast<std::size_t>(count) : 0;
  while (left > 0) {
    ssize_t n = ::write(fd, bytes, left);
    if (n > 0) {
      bytes += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      lostError_ = errno;
      return TIoStatus::Lost;
    }
    pollfd fds[2] = {{fd, POLLOUT, 0}, {native_->writerWake.Fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      lostError_ = errno;
      return TIoStatus::Lost;
    }
    if (Signalled(fds[1])) return TIoStatus::Woken;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      lostError_ = ENXIO;
      return TIoStatus::Lost;
    }
  }
  return TIoStatus::Done;
}

TIoStatus TSerialDevice::WaitSent() {
  const int fd = native_->fd;
  // The transmitter has run empty when the driver's output queue is empty; the driver gives no
  // signal for it, so the queue is looked at every 2 ms.
  for (;;) {
    int unsent = 0;
    if (ioctl(fd, TIOCOUTQ, &unsent) != 0 || unsent <= 0) return TIoStatus::Done;
    pollfd wake{native_->writerWake.Fd(), POLLIN, 0};
    if (::poll(&wake, 1, 2) > 0 && Signalled(wake)) return TIoStatus::Woken;
  }
}

void TSerialDevice::WakeWriter() {
  native_->writerWake.Signal();
}

void TSerialDevice::RearmWriter() {
  native_->writerWake.Clear();
}

TWakeup::TWakeup() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TWakeup::~TWakeup() {
  if (fd_ >= 0) ::close(fd_);
}

void TWakeup::Signal() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void TWakeup::Clear() {
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
}

}  // namespace plat
