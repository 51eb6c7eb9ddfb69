// The command line's jobs in the history: one record per job, made from what the job came to,
// written where --history, ZV8810_HISTORY or the local file say (nowhere with --no-history).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/FileArgument.h"
#include "cli/Options.h"
#include "cli/PortJob.h"

namespace hist {
class THistoryWriter;
}

// The system file as the records show it.
struct THistoryFile {
  std::string Path;
  std::optional<std::int64_t> Size;
  std::string Sum;
  std::string Version;
  std::string Device;
  bool Forced = false;
};

class TJobHistory {
 public:
  // command: "versions", "program" or "station"; file: the system file as it was read and
  // checked once for every job (null for versions).
  TJobHistory(const TCliOptions& options, std::string command, const TCheckedFile* file);
  // Waits for the records still being written.
  ~TJobHistory();
  TJobHistory(const TJobHistory&) = delete;
  TJobHistory& operator=(const TJobHistory&) = delete;
  // Records one ended job (written on the writer's thread, so that jobs still running never
  // wait for it); a record that cannot be stored anywhere is said on standard error and does
  // not change the job's exit status.
  void Record(TPortJob& job, const std::string& prefix = "");

 private:
  std::unique_ptr<hist::THistoryWriter> writer_;  // none with --no-history
  std::string command_;
  std::string reset_;
  std::string protocol_;
  std::int64_t rate_;
  THistoryFile file_;
};
