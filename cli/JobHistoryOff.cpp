// The Windows build keeps no history (neither SQLite nor libpq is built for it): its jobs leave
// their record in the JSON reports only.
#include "cli/JobHistory.h"

namespace hist {
class THistoryWriter {};
}  // namespace hist

TJobHistory::TJobHistory(const TCliOptions&, std::string command, const TCheckedFile*)
    : command_(std::move(command)), rate_(0) {}

TJobHistory::~TJobHistory() = default;

void TJobHistory::Record(TPortJob&, const std::string&) {}
