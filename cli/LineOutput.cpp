#include "cli/LineOutput.h"

#ifndef _WIN32
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Lines longer than the terminal would wrap and spoil the count of lines to erase.
std::size_t Columns(std::FILE* out) {
#ifndef _WIN32
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
#else
  (void)out;
#endif
  return 79;
}

}  // namespace

void TLineOutput::Erase() {
  if (drawn_ == 0) return;
  std::fprintf(out_, "\033[%zuA\r\033[J", drawn_);
  drawn_ = 0;
}

void TLineOutput::Draw() {
  const std::size_t columns = Columns(out_);
  for (const std::string& line : status_)
    std::fprintf(out_, "%s\n", line.substr(0, columns).c_str());
  drawn_ = status_.size();
}

void TLineOutput::Line(const std::string& line) {
  std::lock_guard<std::mutex> lock(lock_);
  if (terminal_) Erase();
  std::fprintf(out_, "%s\n", line.c_str());
  if (terminal_) Draw();
  std::fflush(out_);
}

void TLineOutput::LineTo(std::FILE* stream, const std::string& line) {
  std::lock_guard<std::mutex> lock(lock_);
  if (terminal_) {
    Erase();
    std::fflush(out_);
  }
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
  if (terminal_) {
    Draw();
    std::fflush(out_);
  }
}

void TLineOutput::Status(const std::vector<std::string>& lines) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!terminal_ || lines == status_) return;
  Erase();
  status_ = lines;
  Draw();
  std::fflush(out_);
}

void TLineOutput::ClearStatus() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!terminal_) return;
  Erase();
  status_.clear();
  std::fflush(out_);
}
