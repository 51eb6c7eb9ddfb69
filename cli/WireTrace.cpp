#include "cli/WireTrace.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/TimeStamp.h"
#include "transport/PortIOUEx.h"

void EnableWireTrace() {
  SetWireTrace([](int port, bool outgoing, const std::uint8_t* bytes, int count) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    int millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    const std::tm local = plat::LocalTime(seconds);
    for (int start = 0; start < count; start += 32) {
      std::fprintf(stderr, "%02d:%02d:%02d.%03d COM%d %s", local.tm_hour, local.tm_min,
                   local.tm_sec, millis, port, outgoing ? ">>" : "<<");
      for (int i = start; i < count && i < start + 32; ++i) std::fprintf(stderr, " %02X", bytes[i]);
      std::fputc('\n', stderr);
    }
  });
}
