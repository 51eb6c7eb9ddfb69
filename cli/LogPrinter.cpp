#include "cli/LogPrinter.h"

void TLogPrinter::Show(const TProgressInfo& info) {
  std::lock_guard<std::mutex> lock(lock_);
  Changed(log_.Show(info));
}

void TLogPrinter::Append(const std::string& line) {
  std::lock_guard<std::mutex> lock(lock_);
  Changed(log_.Append(line));
}

void TLogPrinter::Changed(TProgressLog::TChange change) {
  if (change == TProgressLog::TChange::None) return;
  const std::string& last = log_.Lines().back();
  if (terminal_) {
    if (change == TProgressLog::TChange::Replaced)
      std::fputs("\r\033[K", out_);
    else if (pending_)
      std::fputc('\n', out_);
    std::fputs(last.c_str(), out_);
    pending_ = true;
  } else {
    if (change == TProgressLog::TChange::Appended && log_.Lines().size() > 1 && pending_)
      std::fprintf(out_, "%s\n", log_.Lines()[log_.Lines().size() - 2].c_str());
    pending_ = true;
  }
  std::fflush(out_);
}

void TLogPrinter::Finish() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!pending_) return;
  if (terminal_)
    std::fputc('\n', out_);
  else
    std::fprintf(out_, "%s\n", log_.Lines().back().c_str());
  pending_ = false;
  std::fflush(out_);
}

void TLogPrinter::Message(const std::string& text) {
  Finish();
  std::lock_guard<std::mutex> lock(lock_);
  std::string printed = text;
  for (char& c : printed)
    if (c == '\r') c = '\n';
  std::fprintf(out_, "%s\n", printed.c_str());
  std::fflush(out_);
}

void TLogPrinter::Clear() {
  Finish();
  std::lock_guard<std::mutex> lock(lock_);
  log_.Clear();
}
