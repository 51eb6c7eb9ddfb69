#include "cli/LogPrinter.h"

#include "platform/CrashReport.h"

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
  plat::CrashLogLine(prefix_ + last, change == TProgressLog::TChange::Replaced);
  if (terminal_) {
    if (change == TProgressLog::TChange::Replaced)
      std::fputs("\r\033[K", out_);
    else if (pending_)
      std::fputc('\n', out_);
    std::fputs(last.c_str(), out_);
    pending_ = true;
  } else {
    if (change == TProgressLog::TChange::Appended && log_.Lines().size() > 1 && pending_)
      Print(log_.Lines()[log_.Lines().size() - 2]);
    pending_ = true;
    if (currentOut_) currentOut_(last);
  }
  std::fflush(out_);
}

void TLogPrinter::Finish() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!pending_) return;
  if (terminal_)
    std::fputc('\n', out_);
  else
    Print(log_.Lines().back());
  pending_ = false;
  std::fflush(out_);
}

void TLogPrinter::Message(const std::string& text) {
  Finish();
  std::lock_guard<std::mutex> lock(lock_);
  std::string printed = text;
  if (lineOut_) {
    std::size_t from = 0;
    for (std::size_t cr; (cr = printed.find('\r', from)) != std::string::npos; from = cr + 1)
      Print(printed.substr(from, cr - from));
    Print(printed.substr(from));
    return;
  }
  for (char& c : printed)
    if (c == '\r') c = '\n';
  std::fprintf(out_, "%s\n", printed.c_str());
  std::fflush(out_);
}

void TLogPrinter::Print(const std::string& line) {
  if (lineOut_ && line.empty())  // no blank after the prefix of an empty line
    lineOut_(prefix_.substr(0, prefix_.find_last_not_of(' ') + 1));
  else if (lineOut_)
    lineOut_(prefix_ + line);
  else
    std::fprintf(out_, "%s\n", line.c_str());
}

void TLogPrinter::ShareOutput(const std::string& prefix, TLineSink lineOut, TLineSink currentOut) {
  std::lock_guard<std::mutex> lock(lock_);
  terminal_ = false;
  prefix_ = prefix;
  lineOut_ = std::move(lineOut);
  currentOut_ = std::move(currentOut);
}

std::vector<std::string> TLogPrinter::Lines() {
  std::lock_guard<std::mutex> lock(lock_);
  return log_.Lines();
}

void TLogPrinter::Clear() {
  Finish();
  std::lock_guard<std::mutex> lock(lock_);
  log_.Clear();
}
