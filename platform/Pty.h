// A pseudo-terminal pair: the holder keeps the controlling side, a program opens DevicePath().
#pragma once

#include <string>

namespace plat {

class TPty {
 public:
  TPty() = default;
  ~TPty() { Close(); }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  // Opens a new pair. The device side is held open as well (not read), so that the controlling
  // side never sees a hang-up while no program has the device open.
  bool Open();
  void Close();
  int MasterFd() const { return master_; }
  const std::string& DevicePath() const { return path_; }
  // Line settings the other side applied (the pty shows the speed and PARODD; it hides PARENB).
  int Speed() const;
  bool OddParity() const;

 private:
  int master_ = -1;
  int holder_ = -1;
  std::string path_;
};

}  // namespace plat
