// Prints the log lines as the window's log list holds them. On a terminal the current line is
// rewritten in place as its status changes; otherwise each line is printed once, complete.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "programmer/ProgressLog.h"

class TLogPrinter {
 public:
  TLogPrinter(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  ~TLogPrinter() { Finish(); }

  // A report under the log list's rule (replace or append).
  void Show(const TProgressInfo& info);
  // A line of its own.
  void Append(const std::string& line);
  // Ends the current line (a message or the end of the job follows).
  void Finish();
  // A new log: what was shown stays on the screen.
  void Clear();
  // Prints a message after the log; CR separators become line breaks.
  void Message(const std::string& text);

  // Several jobs share the output: every printed line starts with the prefix and goes, complete,
  // to lineOut; the line whose status still changes goes to currentOut each time it changes.
  using TLineSink = std::function<void(const std::string&)>;
  void ShareOutput(const std::string& prefix, TLineSink lineOut, TLineSink currentOut);
  // The log as the window's list holds it.
  std::vector<std::string> Lines();

 private:
  void Changed(TProgressLog::TChange change);
  void Print(const std::string& line);

  std::mutex lock_;
  std::FILE* out_;
  bool terminal_;
  TProgressLog log_;
  bool pending_ = false;  // the last line is not printed (or not ended) yet
  std::string prefix_;
  TLineSink lineOut_;
  TLineSink currentOut_;
};
