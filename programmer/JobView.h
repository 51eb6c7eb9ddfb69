// What the programming thread reports to, as synchronous calls: each returns once the front end
// (the window on its UI thread, the command line, a test) has handled it.
#pragma once

#include "programmer/Job.h"

class TJobView {
 public:
  virtual ~TJobView() = default;
  virtual void ShowProgress(TJob& job) = 0;  // job.ProgressInfo holds the report
  virtual void ShowVersions(
      TJob& job) = 0;  // after a versions command: ReceiverVersions, WriteResult
  virtual void WriteFinished(TJob& job) = 0;  // once, when the thread ends on its own
};
