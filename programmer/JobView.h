// What the programming thread reports to, as synchronous calls: each returns once the front end
// (the window on its UI thread, the command line, a test) has handled it.
#pragma once

#include "programmer/ProgressLog.h"

class TJobView {
 public:
  virtual ~TJobView() = default;
  virtual void ShowProgress() = 0;   // ProgressInfo holds the report
  virtual void ShowVersions() = 0;   // after a versions command; ReceiverVersions, WriteResult
  virtual void WriteFinished() = 0;  // once, when the thread ends on its own
};
