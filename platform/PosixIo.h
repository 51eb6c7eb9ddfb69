// POSIX helpers shared by the serial device and the pseudo-terminal: a wake-up descriptor for a
// thread blocked in poll(), and line speeds through termios2 (rates without a Bxxx constant).
#pragma once

namespace plat {

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

bool SetLineSpeed(int fd, int baud);
int GetLineSpeed(int fd);

}  // namespace plat
