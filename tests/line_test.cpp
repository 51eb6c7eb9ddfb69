// The simulator's line towards the updater: bytes take their line time and reach the updater
// once their stop bit is through; an adapter's latency timer holds them until 62 have gathered
// or the timer, started by the first byte held, expires.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "device/Line.h"
#include "platform/Pty.h"
#include "platform/SerialDevice.h"

namespace {

using namespace std::chrono_literals;
using sim::Clock;

TEST(AdapterHold, ReleasesAFullPacketAtOnceAndTheRestWhenTheTimerExpires) {
  const Clock::time_point t0{};
  constexpr auto Byte = 87us;  // about one byte at 115200 bit/s
  struct {
    const char* what;
    Clock::duration latency;
    int bytes;
    Clock::duration gapBefore;                              // an idle gap before the last byte
    std::vector<std::pair<int, Clock::duration>> expected;  // (byte index, its release)
  } cases[] = {
      {"no timer: each byte as it comes", 0ms, 3, 0ms, {{0, Byte}, {1, 2 * Byte}, {2, 3 * Byte}}},
      {"one byte waits for the timer", 16ms, 1, 0ms, {{0, Byte + 16ms}}},
      {"62 bytes leave with the 62nd", 16ms, 62, 0ms, {{0, 62 * Byte}, {61, 62 * Byte}}},
      {"128 bytes: two packets, then 4 bytes on the timer",
       16ms,
       128,
       0ms,
       {{0, 62 * Byte},
        {61, 62 * Byte},
        {62, 124 * Byte},
        {123, 124 * Byte},
        {124, 125 * Byte + 16ms},
        {127, 125 * Byte + 16ms}}},
      {"a short timer expires before 62 bytes gather",
       4ms,
       128,
       0ms,
       {{0, Byte + 4ms}, {45, Byte + 4ms}, {46, 47 * Byte + 4ms}, {127, 93 * Byte + 4ms}}},
      {"a byte after the timer expired starts anew",
       1ms,
       2,
       3ms,
       {{0, Byte + 1ms}, {1, 2 * Byte + 3ms + 1ms}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::TAdapterHold hold(c.latency);
    std::vector<Clock::time_point> release;
    for (int i = 0; i < c.bytes; ++i) {
      auto arrival = t0 + (i + 1) * Byte + (i == c.bytes - 1 ? c.gapBefore : 0ms);
      sim::TAdapterHold::TRelease r = hold.Add(arrival);
      for (std::size_t k = release.size() - r.AlsoEarlier; k < release.size(); ++k)
        release[k] = r.At;
      release.push_back(r.At);
    }
    for (const auto& [index, at] : c.expected)
      EXPECT_EQ((release[index] - t0).count(), at.count()) << "byte " << index;
  }
}

// Reads from the updater's side of the line until count bytes came; the time each byte arrived.
std::vector<Clock::duration> ArrivalTimes(sim::TLine& line, plat::TSerialDevice& device,
                                          std::size_t count, Clock::time_point start) {
  std::vector<Clock::duration> arrivals;
  while (arrivals.size() < count && Clock::now() - start < 2s) {
    std::int64_t timeout = line.NextTimeoutUs();
    std::uint8_t buffer[256];
    int n = 0;
    device.Read(buffer, sizeof buffer, n, timeout < 0 ? 5 : static_cast<int>(timeout / 1000));
    if (line.WantsWrite()) line.WriteDue();
    for (int i = 0; i < n; ++i) arrivals.push_back(Clock::now() - start);
  }
  return arrivals;
}

}  // namespace

TEST(Line, AnswerTakesItsLineTimeAndTheAdaptersTimer) {
  // Lower bounds only: a slow machine delivers later, never earlier.
  constexpr auto Byte = std::chrono::duration<double, std::micro>(1e6 * 10 / 115200);
  for (int latencyMs : {0, 16}) {
    SCOPED_TRACE(latencyMs);
    plat::TPty pty;
    ASSERT_TRUE(pty.Open());
    plat::TSerialDevice device;
    ASSERT_TRUE(device.Open(pty.DevicePath()));
    ASSERT_TRUE(device.Apply(plat::TLineSettings{115200, 0, 0}));
    sim::TLine line(pty, true, std::chrono::milliseconds(latencyMs));
    line.Expect(115200, false);
    const auto start = Clock::now();
    line.Send(sim::Bytes(128, 0x55));
    std::vector<Clock::duration> got = ArrivalTimes(line, device, 128, start);
    ASSERT_EQ(got.size(), 128u);
    auto us = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d); };
    EXPECT_GE(us(got[0]).count(), (latencyMs ? 62 : 1) * Byte.count());
    EXPECT_GE(us(got[127]).count(),
              (latencyMs ? 125 * Byte.count() + 1000.0 * latencyMs : 128 * Byte.count()));
  }
}
