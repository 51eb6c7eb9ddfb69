// Windows keeps an adapter's latency timer in its driver's settings, where a program cannot
// change it (the README says where to set it): nothing is read or asked for here.
#include "platform/AdapterInfo.h"

namespace plat {

TSystemRoots TSystemRoots::Current() {
  return TSystemRoots{};
}

TAdapterInfo ReadAdapterInfo(const std::string&, const TSystemRoots&) {
  return TAdapterInfo{};
}

int ReadLatencyTimer(const std::string&, const TSystemRoots&) {
  return -1;
}

TLowLatencyReport RequestLowLatency(int, const std::string& path, const TSystemRoots&) {
  TLowLatencyReport report;
  report.Device = path;
  return report;
}

void SetLowLatencyObserver(TLowLatencyObserver) {}

void ApplyLowLatency(int, const std::string&) {}

}  // namespace plat
