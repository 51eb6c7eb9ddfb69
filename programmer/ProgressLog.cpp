#include "programmer/ProgressLog.h"

std::string TProgressLog::Compose(const TProgressInfo& info) {
  return info.Status.empty() ? info.Text : info.Text + " - " + info.Status;
}

TProgressLog::TChange TProgressLog::Show(const TProgressInfo& info) {
  std::string line = Compose(info);
  std::string last = lines_.empty() ? std::string() : lines_.back();
  if (line == last) return TChange::None;
  if (!info.Text.empty() && !lines_.empty() && last.find(info.Text) != std::string::npos) {
    lines_.back() = line;
    return TChange::Replaced;
  }
  lines_.push_back(line);
  return TChange::Appended;
}
