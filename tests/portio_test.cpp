// TPortIO against real pseudo-terminals, the test holding the other end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ComRegistry.h"
#include "tests/TestSupport.h"
#include "transport/PortIOUEx.h"
#include "transport/PortList.h"

using namespace std::chrono;

namespace {

// Records every callback in order.
struct TRecorder {
  std::mutex lock;
  std::vector<std::string> events;
  std::atomic<int> timeouts{0};
  std::vector<steady_clock::time_point> timeoutTimes;

  void Add(std::string e) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(std::move(e));
  }
  void Data(const std::uint8_t*, int count) { Add("data " + std::to_string(count)); }
  void Packet(const std::uint8_t* p, int n) { Add("packet " + std::string(p, p + n)); }
  void Answer(const std::uint8_t*, int, const std::string& text) { Add("answer " + text); }
  void Lost(TPortIO*) { Add("lost"); }
  void Timeout(TPortIO*) {
    std::lock_guard<std::mutex> guard(lock);
    timeoutTimes.push_back(steady_clock::now());
    ++timeouts;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
  }
  bool WaitFor(std::size_t count, int ms = 2000) {
    auto deadline = steady_clock::now() + milliseconds(ms);
    while (Events().size() < count && steady_clock::now() < deadline)
      std::this_thread::sleep_for(milliseconds(2));
    return Events().size() >= count;
  }
};

class PortIO : public ::testing::Test {
 protected:
  void SetUp() override {
    port.PortNumber = peer.Number();
    port.LineProps.BaudRate = 115200;
    port.LineProps.Parity = 0;
    port.OnData.Bind<&TRecorder::Data>(&rec);
    port.OnPacket.Bind<&TRecorder::Packet>(&rec);
    port.OnAnswer.Bind<&TRecorder::Answer>(&rec);
    port.OnTimeout.Bind<&TRecorder::Timeout>(&rec);
  }
  TPtyPeer peer{21};
  TRecorder rec;
  TPortIO port;
};

}  // namespace

TEST_F(PortIO, OpensWithLineSettingsAndRefusesASecondOpen) {
  struct {
    int requested;
    std::uint8_t parity;
    int applied;
    bool odd;
  } cases[] = {{9600, 0, 9600, false},
               {28800, 0, 115200, false},
               {14400, 1, 14400, true},
               {56000, 1, 56000, true},
               {230400, 2, 230400, false}};
  for (auto& c : cases) {
    port.LineProps.BaudRate = c.requested;
    port.LineProps.Parity = c.parity;
    ASSERT_TRUE(port.Open()) << c.requested;
    EXPECT_EQ(peer.Speed(), c.applied) << c.requested;
    EXPECT_EQ(peer.OddParity(), c.odd) << c.requested;
    EXPECT_FALSE(port.Open());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
  }
  // Opened twice with odd parity: a pty refuses the repeated request, the read-back accepts it.
  port.LineProps.Parity = 1;
  ASSERT_TRUE(port.Open());
  port.Close();
  ASSERT_TRUE(port.Open());
}

TEST_F(PortIO, ProbeSeesAPortThisProcessHoldsAsBusy) {
  EXPECT_TRUE(ProbeSerialPort("COM21"));
  ASSERT_TRUE(port.Open());
  EXPECT_FALSE(ProbeSerialPort("COM21"));
  EXPECT_FALSE(ProbeSerialPort(""));
  EXPECT_FALSE(ProbeSerialPort("COM"));
  EXPECT_FALSE(ProbeSerialPort("COM88"));
}

TEST_F(PortIO, FailedOpenKeepsTheReason) {
  port.PortNumber = 77;
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.LastOpenError(), ENOENT);
  TPortIO other;
  other.PortNumber = peer.Number();
  ASSERT_TRUE(other.Open());
  port.PortNumber = peer.Number();
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.LastOpenError(), EBUSY);
}

TEST_F(PortIO, AwaitedTextSplitOverTwoChunksIsReportedOnce) {
  ASSERT_TRUE(port.Open());
  port.ExpectAnswer("$PORZE,");
  peer.Send("junk$POR");
  ASSERT_TRUE(rec.WaitFor(1));
  EXPECT_FALSE(port.AnswerEvent.IsSet());
  peer.Send("ZE,abc\r\n");
  EXPECT_TRUE(port.AnswerEvent.Wait(2000));
  peer.Send("$PORZE,again");
  ASSERT_TRUE(rec.WaitFor(4));
  EXPECT_EQ(rec.Events(),
            (std::vector<std::string>{"data 8", "data 8", "answer $PORZE,", "data 12"}));
}

TEST_F(PortIO, AwaitedTextMatchIsExact) {
  ASSERT_TRUE(port.Open());
  port.ExpectAnswer("$PORZE,");
  peer.Send("$porze,$PORZ\r\n");
  ASSERT_TRUE(rec.WaitFor(1));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(rec.Events().size(), 1u);
  EXPECT_FALSE(port.AnswerEvent.IsSet());
}

// A waiter needs no handler: the event alone tells that the text arrived.
TEST_F(PortIO, AwaitedTextSignalsTheEventWithoutAHandler) {
  port.OnAnswer.Clear();
  ASSERT_TRUE(port.Open());
  port.ExpectAnswer("Restart");
  peer.Send("$PORST,F\r\nRest");
  ASSERT_TRUE(rec.WaitFor(1));
  EXPECT_FALSE(port.AnswerEvent.IsSet());
  peer.Send("art\r\n");
  EXPECT_TRUE(port.AnswerEvent.Wait(2000));
  EXPECT_EQ(rec.Events(), (std::vector<std::string>{"data 14", "data 5"}));
}

TEST_F(PortIO, FramedModeDeliversPacketsBeforeTheChunk) {
  port.SetFramed(true);
  ASSERT_TRUE(port.Open());
  peer.Send(Bytes{0x10, 'A', 0x10, 0x03, 0x10, 'B', 'C', 0x10, 0x03});
  ASSERT_TRUE(rec.WaitFor(3));
  EXPECT_EQ(rec.Events(), (std::vector<std::string>{"packet A", "packet BC", "data 9"}));
}

TEST_F(PortIO, WritesRawAndFramedBytes) {
  ASSERT_TRUE(port.Open());
  port.Write(reinterpret_cast<const std::uint8_t*>("hello"), 5);
  EXPECT_EQ(peer.Read(5, 2000), Bytes({'h', 'e', 'l', 'l', 'o'}));
  port.SetFramed(true);
  const std::uint8_t payload[] = {0x41, 0x10, 0x42};
  port.Write(payload, 3);
  EXPECT_EQ(peer.Read(7, 2000), (Bytes{0x10, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03}));
  Bytes big(20000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13);
  port.SetFramed(false);
  std::thread writer([&] { port.Write(big.data(), static_cast<int>(big.size())); });
  EXPECT_EQ(peer.Read(big.size(), 5000), big) << "a message larger than the ring goes in pieces";
  writer.join();
}

TEST_F(PortIO, TimeoutIsOneShotRestartedByArmingAndCancelledByClose) {
  port.TimeoutMs = 150;
  ASSERT_TRUE(port.Open());
  auto start = steady_clock::now();
  port.ArmTimeout();
  std::this_thread::sleep_for(milliseconds(80));
  port.ArmTimeout();
  std::this_thread::sleep_for(milliseconds(400));
  ASSERT_EQ(rec.timeouts, 1);
  EXPECT_GE(rec.timeoutTimes[0] - start, milliseconds(80 + 150 - 10));
  EXPECT_FALSE(port.TimeoutArmed());
  port.ArmTimeout();
  port.Close();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(rec.timeouts, 1);
}

TEST_F(PortIO, SetPortNumberWithTheSameNumberKeepsTheLineOpen) {
  ASSERT_TRUE(port.Open());
  port.ExpectAnswer("X");
  port.SetPortNumber(peer.Number());
  EXPECT_TRUE(port.IsOpen());
  peer.Send("X");
  EXPECT_TRUE(port.AnswerEvent.Wait(2000));
}

TEST_F(PortIO, CloseWakesATransmitterWaiter) {
  ASSERT_TRUE(port.Open());
  port.TxEmptyEvent.Reset();
  std::thread closer([&] {
    std::this_thread::sleep_for(milliseconds(30));
    port.Close();
  });
  EXPECT_TRUE(port.TxEmptyEvent.Wait(2000));
  closer.join();
}

TEST_F(PortIO, VanishingDeviceIsReportedLostOnceAndNoiseNeverHangsIt) {
  port.SetFramed(true);
  ASSERT_TRUE(port.Open());
  Bytes noise(70000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 31 + 7);
  port.OnData.Clear();
  port.OnPacket.Clear();
  port.OnLost.Bind<&TRecorder::Lost>(&rec);
  peer.Send(noise);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(port.Lost());
  auto pulled = steady_clock::now();
  peer.Hangup();  // as an unplugged adapter: the device goes away under the open port
  ASSERT_TRUE(rec.WaitFor(1)) << "the loss was not reported";
  EXPECT_LT(steady_clock::now() - pulled, milliseconds(500));
  EXPECT_TRUE(port.Lost());
  EXPECT_NE(port.LostError(), 0);
  port.Write(reinterpret_cast<const std::uint8_t*>("x"), 1);  // dropped, no crash
  auto start = steady_clock::now();
  port.Close();
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  std::this_thread::sleep_for(milliseconds(50));
  std::vector<std::string> events = rec.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "lost"), 1) << "reported once";
}

TEST(PortList, SortedAsTextIgnoringCase) {
  TPtyPeer a(3), b(1), c(10);
  std::vector<std::string> list{"stale"};
  ListSerialPorts(list);
  std::vector<std::string> ours;
  for (auto& name : list)
    if (name == "COM1" || name == "COM3" || name == "COM10") ours.push_back(name);
  EXPECT_EQ(ours, (std::vector<std::string>{"COM1", "COM10", "COM3"}));
  for (auto& name : list) EXPECT_NE(name, "stale");
}
