// The Windows build keeps no history (neither SQLite nor libpq is built for it): its jobs leave
// their record in the JSON reports only.
#include "cli/JobHistory.h"

struct TJobHistory::TPending {};

TJobHistory::TJobHistory(const TCliOptions&, std::string command, const TCheckedFile*)
    : enabled_(false), command_(std::move(command)), rate_(0) {}

TJobHistory::~TJobHistory() = default;

void TJobHistory::Record(TPortJob&, const std::string&) {}

void TJobHistory::Write() {}
