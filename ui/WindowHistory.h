// The window's jobs in the history: one record per press of "Programming" or "Versions Info"
// that reached a port, in the local file (or the server ZV8810_HISTORY names), written on a
// thread of its own so that the window never waits for it. Nothing changes on the window's face.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "programmer/Job.h"
#include "programmer/JobRequest.h"

namespace hist {
class THistoryWriter;
}

class TWindowHistory {
 public:
  TWindowHistory();
  // Waits for the records still being written.
  ~TWindowHistory();
  TWindowHistory(const TWindowHistory&) = delete;
  TWindowHistory& operator=(const TWindowHistory&) = delete;

  // A job starts with these inputs.
  void Begin(const TJobRequest& request);
  // The start was refused before a port was tried (an input missing, the file unreadable): no
  // job, no record.
  void Cancel();
  // A message the window showed (the first one after the start is the job's final message).
  void Message(const std::string& text);
  // The job ended: threadRan, whether the programming thread was made (the receiver answered);
  // portNotOpened, whether the port did not even open. Records once per Begin.
  void End(const TJob* job, bool threadRan, bool portNotOpened,
           const std::vector<std::string>& log);

 private:
  std::unique_ptr<hist::THistoryWriter> writer_;
  bool pending_ = false;
  TJobRequest request_;
  std::time_t started_ = 0;
  double startedSeconds_ = 0;
  std::string message_;
};
