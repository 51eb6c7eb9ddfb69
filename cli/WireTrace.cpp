#include "cli/WireTrace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/AdapterInfo.h"
#include "platform/TimeStamp.h"
#include "transport/PortIOUEx.h"

namespace {

// "hh:mm:ss.mmm", the trace's time of day.
std::string TraceTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  const std::tm local = plat::LocalTime(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                millis);
  return text;
}

}  // namespace

void WatchAdapterLatency(bool trace) {
  plat::SetLowLatencyObserver([trace](const plat::TLowLatencyReport& report) {
    if (trace)
      std::fprintf(stderr, "%s %s latency timer %d ms (low-latency mode %s)\n", TraceTime().c_str(),
                   report.Device.c_str(), report.LatencyTimerMs,
                   report.LowLatencyMode ? "on" : "not taken");
    static std::atomic<bool> advised{false};
    if (report.LatencyTimerMs > 1 && !advised.exchange(true))
      std::fprintf(stderr,
                   "%s: the adapter's latency timer is %d ms, so every answer waits up to %d ms; "
                   "set it to 1 ms: echo 1 | sudo tee /sys/bus/usb-serial/devices/%s/latency_timer "
                   "(the README's udev rule does it for good)\n",
                   report.Device.c_str(), report.LatencyTimerMs, report.LatencyTimerMs,
                   report.TtyName.c_str());
  });
}

void EnableWireTrace() {
  SetWireTrace([](int port, bool outgoing, const std::uint8_t* bytes, int count) {
    const std::string time = TraceTime();
    for (int start = 0; start < count; start += 32) {
      std::fprintf(stderr, "%s COM%d %s", time.c_str(), port, outgoing ? ">>" : "<<");
      for (int i = start; i < count && i < start + 32; ++i) std::fprintf(stderr, " %02X", bytes[i]);
      std::fputc('\n', stderr);
    }
  });
}
