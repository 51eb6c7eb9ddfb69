// The command line's jobs in the history: one record per job, made from what the job came to,
// written where --history, ZV8810_HISTORY or the local file say (nowhere with --no-history).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli/FileArgument.h"
#include "cli/Options.h"
#include "cli/PortJob.h"

// The system file as the records show it.
struct THistoryFile {
  std::string Path;
  std::optional<std::int64_t> Size;
  std::string Sum;
  std::string Version;
  std::string Device;
  bool Forced = false;
};

namespace hist {
struct TJobRecord;
}

// Records are made on the jobs' thread from what each job came to, and written by a thread of
// their own, so that a server that is slow to answer never holds up the jobs still running.
class TJobHistory {
 public:
  // command: "versions", "program" or "station"; file: the system file as it was read and
  // checked once for every job (null for versions).
  TJobHistory(const TCliOptions& options, std::string command, const TCheckedFile* file);
  // Waits for the records still being written.
  ~TJobHistory();
  TJobHistory(const TJobHistory&) = delete;
  TJobHistory& operator=(const TJobHistory&) = delete;
  bool Enabled() const { return enabled_; }
  // Records one ended job; a record that cannot be stored anywhere is said on standard error and
  // does not change the job's exit status.
  void Record(TPortJob& job, const std::string& prefix = "");

 private:
  struct TPending;
  void Write();

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<TPending>> pending_;
  bool closing_ = false;
  std::thread writer_;
  // After the server failed, records go straight to the local file for a while.
  std::chrono::steady_clock::time_point serverRetryAt_{};
  bool enabled_;
  std::string history_;
  std::string command_;
  std::string reset_;
  std::string protocol_;
  std::int64_t rate_;
  THistoryFile file_;
};
