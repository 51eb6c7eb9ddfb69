#include "programmer/Job.h"

void TJob::RequestStop(TStopReason reason) {
  TStopReason none = TStopReason::None;
  stopReason_.compare_exchange_strong(none, reason);
  Stop.Request();
}
