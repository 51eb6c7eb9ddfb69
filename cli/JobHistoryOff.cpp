// The Windows build keeps no history (neither SQLite nor libpq is built for it): its jobs leave
// their record in the JSON reports only.
#include "cli/JobHistory.h"

struct TJobHistory::TPending {};

THistoryFile ReadHistoryFile(const std::string& path) {
  THistoryFile file;
  file.Path = path;
  return file;
}

TJobHistory::TJobHistory(const TCliOptions&, std::string command, const std::string&)
    : enabled_(false), command_(std::move(command)), rate_(0) {}

TJobHistory::~TJobHistory() = default;

void TJobHistory::Record(TPortJob&, const std::string&) {}

void TJobHistory::Write() {}
