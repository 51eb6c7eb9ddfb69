// The bootloader link against a pseudo-terminal, the test playing the bootloader and the
// resident: every exchange's bytes, the replies it takes and those it does not, the greeting's
// answer, and what the resident's write phase means for the restart.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "programmer/BootloaderLink.h"
#include "tests/TestSupport.h"

using namespace std::chrono;

namespace {

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Link : public ::testing::Test {
 protected:
  void SetUp() override {
    port.PortNumber = peer.Number();
    port.LineProps.BaudRate = BootRate;
    port.LineProps.Parity = 0;
    ASSERT_TRUE(port.Open());
    link.Attach(port);
  }
  void TearDown() override {
    link.Detach();
    port.Close();
  }
  // Runs an exchange while the test reads its request and answers it.
  template <typename Fn>
  TLinkWait Exchange(Fn exchange, std::size_t requestSize, Bytes& request,
                     const std::vector<Bytes>& answer) {
    auto done = std::async(std::launch::async, exchange);
    request = peer.Read(requestSize, 2000);
    for (const Bytes& chunk : answer) {
      peer.Send(chunk);
      std::this_thread::sleep_for(milliseconds(30));  // each its own chunk at the reader
    }
    return done.get();
  }

  TPtyPeer peer{31};
  TPortIO port;
  TJob job;
  TBootloaderLink link{job};
};

}  // namespace

TEST_F(Link, EachExchangeSendsItsBytesAndTakesItsReply) {
  Bytes block(BlockSize);
  for (int i = 0; i < BlockSize; ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  Bytes frameStart = {0x01, 0x02, 0x03};
  Bytes frame = frameStart;
  frame.resize(FrameDataSize, 0xFF);
  // 1 + 2 + 3 + 1021 * 0xFF = 0x0003F909
  const Bytes frameSum = {0x09, 0xF9, 0x03, 0x00};
  std::uint8_t reply = 0;
  struct {
    const char* name;
    std::function<TLinkWait()> exchange;
    Bytes request;
    std::vector<Bytes> answer;
    std::uint8_t reply;  // the single-byte reply taken, where there is one
  } cases[] = {
      {"memory read, the block in two chunks",
       [&] { return link.ReadBlock(0x01000000); },
       {0x00, 0xC2, 0x01, 0x00, 0x5B, 0x00, 0x00, 0x00, 0x01},
       {Bytes(block.begin(), block.begin() + 100), Bytes(block.begin() + 100, block.end())},
       0},
      {"erase, a reply of three bytes",
       [&] { return link.Erase(0x00012345, reply, {}); },
       {0x00, 0xC2, 0x01, 0x00, 0x33, 0x45, 0x23, 0x01, 0x00},
       {{0xAA, 0x01, 0x02}},
       0xAA},
      {"a short data frame, filled with 0xFF",
       [&] { return link.WriteFrame(frameStart.data(), frameStart.size(), reply, {}); },
       Concat({frame, frameSum}),
       {{0xEF}},
       0xEF},
      {"the check word",
       [&] { return link.SendCheckWord(0xA1B2C3D4, reply, {}); },
       {0xD4, 0xC3, 0xB2, 0xA1},
       {{0xBA}},
       0xBA},
      {"the resident upload",
       [&] {
         TJobImages images;
         images.ResidentImage = {0x10, 0x20, 0x30, 0x40, 0x50};
         images.ResidentSize = 5;
         images.ResidentSum = 0xF0;
         return link.UploadResident(images);
       },
       {0x05, 0x00, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x10, 0x20, 0x30, 0x40, 0x50},
       {Text("\r\nFLASH "), Text("PROG\r\n")},
       0},
  };
  for (auto& c : cases) {
    reply = 0;
    Bytes request;
    EXPECT_EQ(Exchange(c.exchange, c.request.size(), request, c.answer), TLinkWait::Arrived)
        << c.name;
    EXPECT_EQ(request, c.request) << c.name;
    EXPECT_EQ(reply, c.reply) << c.name;
    EXPECT_TRUE(peer.ReadFor(50).empty()) << c.name << ": nothing more went out";
  }
  const auto got = link.Block();
  EXPECT_EQ(Bytes(got.begin(), got.end()), block);
  link.Restart();
  EXPECT_EQ(peer.Read(9, 2000), (Bytes{0x00, 0xC2, 0x01, 0x00, 0x5A, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Link, RepliesThatDoNotCompleteAndWaitsThatAStopEnds) {
  Bytes request;
  // A block of 200 bytes in one chunk: its first 128 count, the rest is dropped.
  Bytes longBlock(200, 0xFF);
  longBlock[127] = 0xFE;
  EXPECT_EQ(Exchange([&] { return link.ReadBlock(0x01010000); }, 9, request, {longBlock}),
            TLinkWait::Arrived);
  EXPECT_FALSE(link.BlockErased()) << "the 128th byte is 0xFE";
  // 127 bytes never complete a block; the next inquiry starts counting afresh.
  EXPECT_EQ(Exchange([&] { return link.ReadBlock(0x01010000); }, 9, request, {Bytes(127, 0xFF)}),
            TLinkWait::TimedOut);
  link.RealignBlocks();
  EXPECT_EQ(Exchange([&] { return link.ReadBlock(0x01010000); }, 9, request, {Bytes(128, 0xFF)}),
            TLinkWait::Arrived);
  EXPECT_TRUE(link.BlockErased());
  // A frame without its reply: the byte is 0.
  std::uint8_t reply = 0xAA;
  const Bytes data(FrameDataSize, 0x11);
  EXPECT_EQ(Exchange([&] { return link.WriteFrame(data.data(), data.size(), reply, {}); },
                     FrameDataSize + 4, request, {}),
            TLinkWait::TimedOut);
  EXPECT_EQ(reply, 0);
  // The erase waits up to 30 s; a stop ends the wait at once.
  const auto start = steady_clock::now();
  auto erased = std::async(std::launch::async, [&] { return link.Erase(100, reply, {}); });
  EXPECT_EQ(peer.Read(9, 2000).size(), 9u);
  job.RequestStop(TStopReason::Requested);
  EXPECT_EQ(erased.get(), TLinkWait::Stopped);
  EXPECT_LT(steady_clock::now() - start, seconds(5));
}

TEST_F(Link, OnlyTheGreetingIsAnsweredAndOnlyOnce) {
  link.ExpectGreeting();
  peer.Send("Restart\r\n#$");
  EXPECT_EQ(link.WaitGreeting(200), TLinkWait::TimedOut);
  peer.Send("#%");
  ASSERT_EQ(link.WaitGreeting(2000), TLinkWait::Arrived);
  EXPECT_TRUE(link.GreetingAnswered());
  EXPECT_EQ(peer.Read(2, 300), Bytes{BootByte::GreetingAnswer}) << "exactly one 0xCC";
  // The search was used up: a repeated greeting is not answered; the resident's announcement,
  // awaited next, is not answered either.
  peer.Send("#$#%");
  EXPECT_TRUE(peer.ReadFor(100).empty());
  TJobImages images;
  images.ResidentImage = {0x01};
  auto uploaded = std::async(std::launch::async, [&] { return link.UploadResident(images); });
  EXPECT_EQ(peer.Read(9, 2000).size(), 9u);
  peer.Send("FLASH PROG");
  EXPECT_EQ(uploaded.get(), TLinkWait::Arrived);
  EXPECT_TRUE(peer.ReadFor(100).empty());
}

TEST_F(Link, AStoppedJobLeavesTheGreetingUnanswered) {
  link.ExpectGreeting();
  job.RequestStop(TStopReason::Requested);
  peer.Send("#$#%");
  EXPECT_EQ(link.WaitGreeting(1000), TLinkWait::Stopped);
  EXPECT_TRUE(peer.ReadFor(200).empty());
  EXPECT_FALSE(link.GreetingAnswered());
}

// The resident hears commands only after a longer silence while it takes data frames: the link
// knows when that is.
TEST_F(Link, TheWritePhaseLastsFromTheErasedFlashToTheCheckWordOrARefusedFrame) {
  struct TStep {
    char exchange;  // 'E' erase, 'F' data frame, 'C' check word
    int reply;      // -1: none
  };
  struct {
    const char* name;
    std::vector<TStep> steps;
    bool taking;
  } cases[] = {
      {"erased", {{'E', 0xAA}}, true},
      {"erase refused", {{'E', 0xEE}}, false},
      {"a refused erase after a refused frame: still in the write phase",
       {{'E', 0xAA}, {'F', 0xEE}, {'E', 0xEE}},
       true},
      {"frames taken", {{'E', 0xAA}, {'F', 0xAA}, {'F', 0xEF}}, true},
      {"a frame's sum refused", {{'E', 0xAA}, {'F', 0xED}}, false},
      {"a frame's programming refused", {{'E', 0xAA}, {'F', 0xE1}}, false},
      {"a frame unanswered", {{'E', 0xAA}, {'F', -1}}, true},
      {"the check word matched", {{'E', 0xAA}, {'F', 0xEF}, {'C', 0xBA}}, false},
      {"the check word refused", {{'E', 0xAA}, {'F', 0xEF}, {'C', 0xFE}}, false},
      {"the check word unanswered", {{'E', 0xAA}, {'F', 0xEF}, {'C', -1}}, true},
      {"erased again after a refusal", {{'E', 0xAA}, {'F', 0xED}, {'E', 0xAA}}, true},
  };
  const Bytes data(10, 0x5A);
  // Every case has a link of its own; they all live until the port's reader has ended.
  std::vector<std::unique_ptr<TBootloaderLink>> links;
  for (auto& c : cases) {
    link.Detach();
    links.push_back(std::make_unique<TBootloaderLink>(job));
    TBootloaderLink& fresh = *links.back();
    fresh.Attach(port);
    for (const TStep& step : c.steps) {
      std::uint8_t reply = 0;
      Bytes request;
      std::vector<Bytes> answer;
      if (step.reply >= 0) answer.push_back({static_cast<std::uint8_t>(step.reply)});
      switch (step.exchange) {
        case 'E':
          Exchange([&] { return fresh.Erase(10, reply, {}); }, 9, request, answer);
          break;
        case 'F':
          Exchange([&] { return fresh.WriteFrame(data.data(), data.size(), reply, {}); },
                   FrameDataSize + 4, request, answer);
          break;
        default:
          Exchange([&] { return fresh.SendCheckWord(0x1234, reply, {}); }, 4, request, answer);
      }
    }
    EXPECT_EQ(fresh.TakingFrames(), c.taking) << c.name;
    fresh.Detach();
  }
  port.Close();
}

TEST_F(Link, TheStageShowsItsLineWhileTheReplyIsAwaited) {
  std::uint8_t reply = 0;
  Bytes request;
  bool shownBeforeTheReply = false;
  // The reply is already there when the line is shown: it is not lost.
  EXPECT_EQ(Exchange(
                [&] {
                  return link.SendCheckWord(1, reply, [&] {
                    std::this_thread::sleep_for(milliseconds(300));
                    shownBeforeTheReply = true;
                  });
                },
                4, request, {{0xBA}}),
            TLinkWait::Arrived);
  EXPECT_TRUE(shownBeforeTheReply);
  EXPECT_EQ(reply, 0xBA);
}
