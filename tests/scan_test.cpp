// The protocol and bit-rate scan: its order, and a stop at any moment against zv8810-sim.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "receiver/NavReceiverExU.h"
#include "receiver/ProtocolScan.h"
#include "tests/TestSupport.h"
#include "transport/PortList.h"

TEST(ProtocolScan, OrderTriesEveryCombinationOnceTheLikeliestFirst) {
  struct {
    std::uint8_t protocol;
    std::int32_t rate;
    bool includeChosen;
    std::size_t size;
    std::vector<TScanTry> head;
  } cases[] = {
      {ProtocolZorp,
       115200,
       false,
       13,
       {{ProtocolNmea, 115200}, {ProtocolZorp, 9600}, {ProtocolNmea, 9600}}},
      {ProtocolNmea,
       4800,
       true,
       14,
       {{ProtocolNmea, 4800}, {ProtocolZorp, 4800}, {ProtocolNmea, 115200}}},
      // A rate outside the list is tried first, then the whole list.
      {ProtocolNmea, 1200, false, 15, {{ProtocolZorp, 1200}, {ProtocolNmea, 115200}}},
  };
  for (auto& c : cases) {
    std::vector<TScanTry> order = ScanOrder(c.protocol, c.rate, c.includeChosen);
    ASSERT_GE(order.size(), c.head.size());
    EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), order.begin())) << c.rate;
    for (std::size_t i = 0; i < order.size(); ++i)
      for (std::size_t j = i + 1; j < order.size(); ++j) EXPECT_FALSE(order[i] == order[j]);
    bool chosenTried =
        std::find(order.begin(), order.end(), TScanTry{c.protocol, c.rate}) != order.end();
    EXPECT_EQ(chosenTried, c.includeChosen);
    EXPECT_EQ(order.size(), c.size) << c.rate;
  }
}

// A stop during the first or a later try returns at once, reports nothing more and leaves the
// port free.
TEST(ProtocolScan, StopsAtAnyMoment) {
  TSimProcess sim(61, {"--fault", "silent"});
  for (int stopAfterMs : {0, 700, 3600}) {
    TProtocolScan scan(61, ScanOrder(ProtocolNmea, 115200, true), 1500);
    std::atomic<int> tries{0}, results{0}, finished{0};
    scan.OnTry = [&](const TScanTry&) { ++tries; };
    scan.OnResult = [&](const TScanTry&, TScanOutcome, int) { ++results; };
    scan.OnFinished = [&](const TScanTry*) { ++finished; };
    scan.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
    auto before = std::chrono::steady_clock::now();
    const int resultsBefore = results;
    scan.Stop();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_LT(seconds, 1.0) << stopAfterMs;
    EXPECT_FALSE(scan.Running());
    EXPECT_EQ(results, resultsBefore) << "no result after the stop";
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(results, stopAfterMs / 3000) << "a silent try takes two cycles of 1.5 s";
    EXPECT_TRUE(ProbeSerialPort("COM61"))
        << "the port is free again after a stop at " << stopAfterMs;
  }
}
