#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/AdapterInfo.h"
#include "platform/SerialDevice.h"

namespace plat {

int SupportedBaudRate(int requested) {
  switch (requested) {
    case 4800:
    case 9600:
    case 14400:
    case 19200:
    case 38400:
    case 56000:
    case 57600:
    case 115200:
    case 230400:
      return requested;
    default:
      return 115200;
  }
}

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
  fd_ = fd;
  lastError_ = 0;
  return true;
}

bool TSerialDevice::Apply(const TLineSettings& settings) {
  if (!IsOpen()) return false;
  const int baud = SupportedBaudRate(settings.BaudRate);
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) {
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
  tcsetattr(fd_, TCSANOW, &tio);
  if (standard == B0) SetLineSpeed(fd_, baud);
  if (!LineMatches(fd_, baud, tio.c_cflag)) {
    lastError_ = EINVAL;
    return false;
  }
  return true;
}

void TSerialDevice::Purge() {
  if (IsOpen()) tcflush(fd_, TCIOFLUSH);
}

void TSerialDevice::Close() {
  if (!IsOpen()) return;
  ::close(fd_);
  fd_ = -1;
}

std::string OpenFailureReason(int error) {
  switch (error) {
    case 0:
      return "";
    case EACCES:
    case EPERM:
      return "permission denied: is the user in the dialout group? (sudo usermod -aG dialout "
             "$USER, then log in again)";
    case EBUSY:
    case EWOULDBLOCK:
      return "the port is in use by another program: close that program and try again";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device: check the cable and the port name (zv8810-fwu ports lists them)";
    case ENOTTY:
      return "the device is not a serial port";
    case EINVAL:
      return "the line settings could not be applied to the device";
    default:
      return std::strerror(error);
  }
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

TWaitResult WaitReadable(int fd, int wakeFd) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return TWaitResult::Hangup;
    }
    if (fds[1].revents & POLLIN) return TWaitResult::Woken;
    if (fds[0].revents & POLLIN) return TWaitResult::Readable;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return TWaitResult::Hangup;
  }
}

int BytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count;
}

int BytesUnsent(int fd) {
  int count = 0;
  if (ioctl(fd, TIOCOUTQ, &count) != 0) return 0;
  return count;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, int wakeFd) {
  while (count > 0) {
    ssize_t n = ::write(fd, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents & POLLIN) return false;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
  }
  return true;
}

}  // namespace plat
