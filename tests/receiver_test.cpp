// The receiver session against scripted byte streams on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <regex>
#include <thread>

#include "receiver/NavReceiverExU.h"
#include "tests/TestSupport.h"

using namespace std::chrono;

namespace {

struct TNotes {
  std::atomic<int> connected{0}, noAnswer{0}, coordinates{0}, testResults{0};
  void Connected(TNavReceiver*) { ++connected; }
  void NoAnswer(TNavReceiver*) { ++noAnswer; }
  // Asks the session back from inside its callback, as a window's handler would.
  void Coordinates(TNavReceiver* session) {
    lastAvailable = session->CoordinatesAvailable();
    ++coordinates;
  }
  std::atomic<bool> lastAvailable{false};
  void TestResult(TNavReceiver*) { ++testResults; }
};

Bytes Framed(const Bytes& packet) {
  Bytes wire{0x10};
  for (auto b : packet) {
    wire.push_back(b);
    if (b == 0x10) wire.push_back(0x10);
  }
  wire.insert(wire.end(), {0x10, 0x03});
  return wire;
}

Bytes Packet(std::uint8_t id, std::size_t payloadLength, std::uint8_t fill = 0) {
  Bytes p(payloadLength + 1, fill);
  p[0] = id;
  return p;
}

template <typename Pred>
bool WaitUntil(Pred pred, int ms = 3000) {
  auto deadline = steady_clock::now() + milliseconds(ms);
  while (!pred()) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    session.reset();
    notes.connected = notes.noAnswer = notes.coordinates = notes.testResults = 0;
    session = std::make_unique<TNavReceiver>();
    session->OnConnected.Bind<&TNotes::Connected>(&notes);
    session->OnNoAnswer.Bind<&TNotes::NoAnswer>(&notes);
    session->OnCoordinates.Bind<&TNotes::Coordinates>(&notes);
    session->OnTestResult.Bind<&TNotes::TestResult>(&notes);
  }
  void ConnectZorp(int timeoutMs = 2000) {
    session->SetTimeout(timeoutMs);
    session->Connect(peer.Number(), 115200, ProtocolZorp);
    ASSERT_TRUE(session->Opened());
    // 0x0E, then the six poll requests
    ASSERT_EQ(peer.Read(7 * 4, 2000).size(), 28u);
  }
  void Answer(const Bytes& packet) { peer.Send(Framed(packet)); }
  bool LogHas(const std::string& pattern) {
    std::regex re(pattern);
    for (auto& line : session->Log())
      if (std::regex_match(line, re)) return true;
    return false;
  }

  TPtyPeer peer{3};
  TNotes notes;
  std::unique_ptr<TNavReceiver> session;
};

const std::string kTime = "[0-9]{2}.[0-9]{2}.[0-9]{2}";

}  // namespace

TEST(Nmea, WireFormsAndChecksums) {
  struct {
    const char* sentence;
    const char* wire;
  } cases[] = {{"$GPGPQ,PORZE", "$GPGPQ,PORZE*2F\r\n"},
               {"$PORST,F", "$PORST,F*20\r\n"},
               {"$PORST,W", "$PORST,W*31\r\n"},
               {"$", "$*00\r\n"},
               {"$\x0a", "$\x0a*0A\r\n"}};
  for (auto& c : cases) EXPECT_EQ(NmeaWireForm(c.sentence), c.wire) << c.sentence;
}

TEST_F(Session, NmeaSilentReceiverGetsTwoCyclesThenOneVerdict) {
  session->SetTimeout(300);
  auto start = steady_clock::now();
  session->Connect(peer.Number(), 9600, ProtocolNmea);
  ASSERT_TRUE(session->Opened());
  EXPECT_EQ(peer.Speed(), 9600);
  EXPECT_FALSE(peer.OddParity());
  const std::string poll = "$GPGPQ,PORZE*2F\r\n";
  EXPECT_EQ(peer.Read(34, 1000), Text(poll + poll));
  EXPECT_EQ(peer.Read(34, 1000), Text(poll + poll));
  ASSERT_TRUE(WaitUntil([&] { return notes.noAnswer > 0; }));
  auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(580));
  EXPECT_LT(elapsed, milliseconds(1500));
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(notes.noAnswer, 1);
  EXPECT_EQ(notes.connected, 0);
  EXPECT_FALSE(session->Port().IsOpen());
  auto log = session->Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex("\\*Device not answer on COM3: " + kTime)));
  EXPECT_TRUE(std::regex_match(log[1], std::regex("\\*COM3 disconnected: " + kTime)));
  EXPECT_TRUE(peer.ReadFor(100).empty()) << "the port is not reopened";
}

TEST_F(Session, NmeaAnswerInTheSecondCycleConfirmsOnce) {
  // Each cycle's two polls are read whole, so that none is left over to pass for a poll after
  // the confirmation; the cycle is long enough for a loaded machine to answer within it.
  session->SetTimeout(1000);
  session->Connect(peer.Number(), 115200, ProtocolNmea);
  const std::string poll = "$GPGPQ,PORZE*2F\r\n";
  ASSERT_EQ(peer.Read(34, 3000), Text(poll + poll));
  ASSERT_EQ(peer.Read(34, 3000), Text(poll + poll));  // second cycle
  peer.Send("$GPGGA,1,2*00\r\n$POR");
  peer.Send("ZE,ZV-8810*00\r\n$PORZE,again\r\n");
  ASSERT_TRUE(WaitUntil([&] { return notes.connected > 0; }));
  std::this_thread::sleep_for(milliseconds(1300));  // past the second cycle's time-out
  EXPECT_EQ(notes.connected, 1);
  EXPECT_EQ(notes.noAnswer, 0);
  EXPECT_TRUE(session->Connected());
  EXPECT_TRUE(LogHas("\\*COM3 connection OK: " + kTime));
  EXPECT_TRUE(peer.ReadFor(100).empty()) << "no poll after the confirmation";
}

TEST_F(Session, NmeaRestartSendsTheSentenceAndTimeoutsAreIgnored) {
  session->SetTimeout(150);
  session->Connect(peer.Number(), 115200, ProtocolNmea);
  peer.Read(34, 1000);
  session->Restart(true);
  EXPECT_EQ(peer.Read(13, 1000), Text("$PORST,F*20\r\n"));
  session->Port().ArmTimeout();
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_TRUE(peer.ReadFor(50).empty());
  EXPECT_EQ(notes.noAnswer, 0);
  EXPECT_TRUE(session->Log().empty());
}

TEST_F(Session, ConnectOnAPortThatDoesNotOpen) {
  for (bool raw : {false, true}) {
    SetUp();
    if (raw)
      EXPECT_FALSE(session->OpenRaw(plat::TPortEntry{7, "COM7", ""}, 115200));
    else
      session->Connect(7, 115200, ProtocolNmea);
    EXPECT_FALSE(session->Opened()) << raw;
    EXPECT_EQ(session->Port().LastOpenError(), ENOENT) << raw;
    auto log = session->Log();
    ASSERT_EQ(log.size(), 1u) << raw;
    EXPECT_TRUE(std::regex_match(log[0], std::regex("Could not open COM7: " + kTime))) << raw;
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(notes.connected + notes.noAnswer, 0) << raw;
  }
}

// After its restart the session hands its port over at the bootloader's rate: without parity,
// raw, whatever line it ran before; a port opened for a power cycle is handed over as it is.
TEST_F(Session, RestartAcknowledgedThenThePortHandedOverAt115200Raw) {
  struct {
    const char* name;
    std::uint8_t protocol;
    int rate;  // 0: opened raw for the operator's power cycle, no restart
  } cases[] = {
      {"NMEA at 115200", ProtocolNmea, 115200},
      {"NMEA at 9600", ProtocolNmea, 9600},
      {"ZORP at 57600", ProtocolZorp, 57600},
      {"opened raw", ProtocolNmea, 0},
  };
  for (auto& c : cases) {
    SetUp();
    session->SetTimeout(300);
    if (c.rate == 0) {
      ASSERT_TRUE(session->OpenRaw(plat::TPortEntry{peer.Number(), "COM3", ""}, 115200));
    } else {
      session->Connect(peer.Number(), c.rate, c.protocol);
      ASSERT_TRUE(session->Opened()) << c.name;
      plat::TEvent& acknowledged = session->RestartAwaiting("Restart");
      EXPECT_FALSE(peer.ReadFor(50).empty()) << c.name << ": the polls and the restart command";
      EXPECT_FALSE(acknowledged.IsSet()) << c.name;
      peer.Send("Resta");
      peer.Send("rt\r\n");
      EXPECT_TRUE(acknowledged.Wait(1000)) << c.name;
    }
    TPortIO& port = session->HandOver(115200);
    ASSERT_TRUE(port.IsOpen()) << c.name;
    EXPECT_EQ(peer.Speed(), 115200) << c.name;
    EXPECT_FALSE(peer.OddParity()) << c.name;
    const std::uint8_t bytes[] = {0x10, 0xCC};
    port.Write(bytes, 2);
    EXPECT_EQ(peer.Read(3, 300), (Bytes{0x10, 0xCC})) << c.name << ": raw, unframed";
    std::this_thread::sleep_for(milliseconds(400));  // past the session's time-out
    EXPECT_TRUE(peer.ReadFor(50).empty()) << c.name << ": the session polls no more";
    EXPECT_EQ(notes.noAnswer, 0) << c.name;
  }
}

TEST_F(Session, ZorpPollRestartAndPropertiesOnTheWire) {
  session->SetTimeout(2000);
  session->Connect(peer.Number(), 38400, ProtocolZorp);
  TReceiverProperties props = session->GetProperties();
  EXPECT_EQ(props.Baud, 38400);
  EXPECT_EQ(props.ProtocolCode, ProtocolZorp);
  EXPECT_EQ(props.ReportedValue, 0);
  EXPECT_TRUE(props.ModuleNumber.empty());
  EXPECT_TRUE(peer.OddParity());
  Bytes expected = Framed({0x0E});
  for (int i = 0; i < 2; ++i)
    for (std::uint8_t id : {0x26, 0x57, 0x1B}) {
      Bytes f = Framed({id});
      expected.insert(expected.end(), f.begin(), f.end());
    }
  EXPECT_EQ(peer.Read(expected.size(), 1000), expected);
  session->Restart(true);
  EXPECT_EQ(peer.Read(14, 1000), (Bytes{0x10, 0x0E, 0x10, 0x03, 0x10, 0x01, 0x00, 0x01, 0x21, 0x01,
                                        0x00, 0x00, 0x10, 0x03}));
  EXPECT_TRUE(LogHas("restart: " + kTime));
}

TEST_F(Session, ZorpPacketsThatAnswerAPollAndThoseThatDoNot) {
  struct {
    const char* name;
    Bytes packet;
    bool confirms;
  } cases[] = {
      {"0x54 of only the identifier", {0x54}, true},
      {"0x58 with 191 bytes", Packet(0x58, 191, 'a'), false},
      {"0x58 with 193 bytes", Packet(0x58, 193, 'a'), false},
      {"0x58 with 192 bytes", Packet(0x58, 192, 'a'), true},
      {"0x70 with 76 bytes", Packet(0x70, 76, 'b'), true},
      {"0x70 with 75 bytes", Packet(0x70, 75, 'b'), false},
      {"0x9D alone", {0x9D}, false},
      {"an unknown packet", {0x99, 0x01}, false},
  };
  for (auto& c : cases) {
    SetUp();
    ConnectZorp();
    Answer(c.packet);
    bool confirmed = WaitUntil([&] { return notes.connected > 0; }, c.confirms ? 2000 : 200);
    EXPECT_EQ(confirmed, c.confirms) << c.name;
    session.reset();
  }
}

TEST_F(Session, ZorpIdentityFieldsAndLogLines) {
  ConnectZorp();
  Bytes identity = Packet(0x58, 192);
  for (int i = 0; i < 32; ++i) identity[1 + i] = static_cast<std::uint8_t>('A' + i % 26);
  identity[1 + 64] = 0;  // ModuleId starts with NUL
  std::string date = "2009-11-26";
  std::copy(date.begin(), date.end(), identity.begin() + 33);
  Answer(identity);
  Bytes device = Packet(0x70, 76);
  device[1] = 0xC8;
  device[2] = 'A';
  device[3] = 'B';
  device[4] = 'C';
  Answer(device);
  Answer({0x54});  // a second answer after the first: no second OnConnected
  ASSERT_TRUE(WaitUntil([&] { return session->GetProperties().DeviceId == "ABC"; }));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(notes.connected, 1);
  TReceiverProperties props = session->GetProperties();
  EXPECT_EQ(props.ModuleNumber, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF");
  EXPECT_EQ(props.ProductionDate, date);
  EXPECT_EQ(props.ModuleId, "");
  EXPECT_EQ(props.DeviceCode, 200);
  auto log = session->Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "Module №: " + props.ModuleNumber);
  EXPECT_EQ(log[1], "Date produce: " + date);
  EXPECT_EQ(log[2], "Module Id: ");
  EXPECT_TRUE(std::regex_match(log[3], std::regex("\\*COM3 connection OK: " + kTime)));
  EXPECT_EQ(log[4], "Device Id: ABC");
}

TEST_F(Session, ZorpReportedValueStatusAndSelfTest) {
  ConnectZorp();
  struct {
    Bytes packet;
    std::int32_t value;
  } values[] = {{{0x9D, 0x00, 0x18, 0xFC}, -1000},
                {{0x9D, 0x01, 0x18, 0xFC}, -999},
                {{0x9D, 0x00, 0x18}, -999},
                {{0x9D, 0x00, 0x05, 0x00}, 5}};
  for (auto& v : values) {
    Answer(v.packet);
    EXPECT_TRUE(WaitUntil([&] { return session->GetProperties().ReportedValue == v.value; }))
        << v.value;
  }
  auto status = [&](std::uint8_t flags) {
    Bytes p = Packet(0x88, 69);
    p[69] = flags;
    Answer(p);
  };
  status(0x01);
  status(0x10);
  status(0x13);
  status(0x11);
  status(0x00);
  ASSERT_TRUE(WaitUntil([&] { return notes.coordinates == 2; }));
  EXPECT_FALSE(session->CoordinatesAvailable());
  EXPECT_FALSE(notes.lastAvailable);
  int available = 0;
  for (auto& line : session->Log()) available += line.rfind("coordinates are available: ", 0) == 0;
  EXPECT_EQ(available, 1);

  Answer({0x43, 0x01});
  Answer({0x43, 0x01});
  Answer({0x43, 0x02, 0x01, 0x00, 0x00, 0x00, 0x01});
  Answer({0x43, 0x02, 0x04, 0x00, 0x00, 0x00, 0x02});
  Answer({0x43, 0x01, 0x80, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_TRUE(WaitUntil([&] { return notes.testResults == 3; }));
  EXPECT_EQ(session->TestFlags(), 0x05u);
  EXPECT_EQ(session->TestBits(), 0x03000000u);
  EXPECT_EQ(session->TestCount(), 2);
  int starts = 0;
  for (auto& line : session->Log()) starts += line.rfind("Starting test RPU: ", 0) == 0;
  EXPECT_EQ(starts, 1);
}

TEST_F(Session, ZorpSelfTestReplyAndRawBlocksKeepTheTimeoutRunning) {
  ConnectZorp(250);
  Answer({0x54});
  ASSERT_TRUE(WaitUntil([&] { return notes.connected == 1; }));
  Answer({0x4C, 0x00});
  EXPECT_EQ(peer.Read(5, 1000), (Bytes{0x10, 0x22, 0x01, 0x10, 0x03}));
  Answer({0x4C, 0x05});
  EXPECT_TRUE(peer.ReadFor(100).empty());
  // Raw blocks re-arm the answer time-out; when they stop the session polls again.
  Answer(Packet(0x87, 480, 0x33));
  EXPECT_EQ(peer.Read(24, 1000).size(), 24u) << "a new poll cycle after the blocks stopped";
}

TEST_F(Session, ZorpDisconnectSendsStopOnlyAfterAConfirmation) {
  ConnectZorp(150);
  ASSERT_TRUE(WaitUntil([&] { return notes.noAnswer == 1; }));
  Bytes rest = peer.ReadFor(100);
  EXPECT_EQ(rest.size(), 24u) << "the second cycle, and no 0x0E from Disconnect";

  SetUp();
  ConnectZorp(150);
  Answer({0x54});
  ASSERT_TRUE(WaitUntil([&] { return notes.connected == 1; }));
  Answer(Packet(0x87, 480));  // re-arms; then silence: two cycles, verdict
  ASSERT_TRUE(WaitUntil([&] { return notes.noAnswer == 1; }));
  Bytes tail = peer.ReadFor(100);
  ASSERT_GE(tail.size(), 4u);
  EXPECT_EQ(Bytes(tail.end() - 4, tail.end()), Framed({0x0E}));
}

TEST_F(Session, ZorpRawBlockAfterRestartLeavesTheTimerDisarmed) {
  ConnectZorp(150);
  Answer({0x54});
  ASSERT_TRUE(WaitUntil([&] { return notes.connected == 1; }));
  session->Restart(true);
  peer.Read(14, 1000);
  Answer(Packet(0x87, 480));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(session->Port().TimeoutArmed());
  EXPECT_TRUE(peer.ReadFor(400).empty());
}

TEST_F(Session, ZorpStreamThatNeverAnswersThePollsGetsTheVerdict) {
  ConnectZorp(300);
  const auto start = steady_clock::now();
  std::atomic<bool> streaming{true};
  // Raw blocks, status and coordinates far more often than the time-out, never an answer.
  std::thread receiver([&] {
    std::uint8_t tick = 0;
    while (streaming) {
      Answer(Packet(0x87, 480, tick));
      Bytes status = Packet(0x88, 69);
      status[69] = ++tick > 2 ? 0x11 : 0x01;
      Answer(status);
      std::this_thread::sleep_for(milliseconds(60));
    }
  });
  const bool verdict = WaitUntil([&] { return notes.noAnswer == 1; }, 5000);
  const double seconds = duration<double>(steady_clock::now() - start).count();
  streaming = false;
  receiver.join();
  ASSERT_TRUE(verdict) << "the stream kept the session waiting";
  EXPECT_EQ(notes.connected, 0);
  EXPECT_GE(seconds, 0.5) << "two cycles of 300 ms";
  EXPECT_LT(seconds, 3.0);
  EXPECT_TRUE(LogHas("\\*Device not answer on COM3: " + kTime));
}
