#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "platform/PosixIo.h"
#include "platform/Pty.h"

namespace plat {

bool TPty::Open() {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return false;
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    Close();
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    Close();
    return false;
  }
  path_ = name;
  holder_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (holder_ >= 0 && tcgetattr(holder_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(holder_, TCSANOW, &tio);
  }
  return true;
}

void TPty::Close() {
  if (holder_ >= 0) ::close(holder_);
  if (master_ >= 0) ::close(master_);
  holder_ = master_ = -1;
}

int TPty::Speed() const {
  return GetLineSpeed(master_);
}

bool TPty::OddParity() const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return false;
  return (tio.c_cflag & PARODD) != 0;
}

}  // namespace plat
