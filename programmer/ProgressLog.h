// The log list's rule, shared by the window and the command line: a report names a stage and
// its status; a later report about the same stage completes the last line in place.
#pragma once

#include <string>
#include <vector>

struct TProgressInfo {
  std::string Text;
  std::string Status;
};

class TProgressLog {
 public:
  enum class TChange { None, Replaced, Appended };

  // The line a report stands for: Text, or Text + " - " + Status.
  static std::string Compose(const TProgressInfo& info);
  // Applies a report: nothing when it equals the last line, the last line replaced when it
  // contains the report's (non-empty) Text, otherwise a new line.
  TChange Show(const TProgressInfo& info);
  // A line of its own, never merged into the one before it.
  TChange Append(const std::string& line) {
    lines_.push_back(line);
    return TChange::Appended;
  }
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};
