#include <gtest/gtest.h>

#include <vector>

#include "transport/DleFraming.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Frame(const Bytes& payload) {
  std::uint8_t frame[FrameBufferSize];
  int n = BuildDleFrame(payload.data(), static_cast<int>(payload.size()), frame);
  return Bytes(frame, frame + n);
}

std::vector<Bytes> Deframe(TDeframer& deframer, const std::vector<Bytes>& chunks) {
  std::vector<Bytes> packets;
  for (const Bytes& chunk : chunks)
    deframer.Feed(chunk.data(), static_cast<int>(chunk.size()),
                  [&](const std::uint8_t* p, int n) { packets.emplace_back(p, p + n); });
  return packets;
}

}  // namespace

TEST(DleFraming, FrameSizesAtTheLimits) {
  struct {
    const char* name;
    Bytes payload;
    std::size_t frameLength;  // 0: nothing queued
  } cases[] = {
      {"509 plain bytes fill 512", Bytes(509, 0x41), 512},
      {"510 plain bytes do not fit", Bytes(510, 0x41), 0},
      {"254 DLEs double to 508", Bytes(254, 0x10), 511},
      {"255 DLEs do not fit", Bytes(255, 0x10), 0},
      {"513 bytes are refused", Bytes(513, 0x41), 0},
      {"an empty message", Bytes{}, 3},
  };
  for (auto& c : cases) EXPECT_EQ(Frame(c.payload).size(), c.frameLength) << c.name;
  EXPECT_EQ(Frame({0x41, 0x10, 0x42}), (Bytes{0x10, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03}));
  EXPECT_EQ(Frame({}), (Bytes{0x10, 0x10, 0x03}));
}

TEST(DleFraming, DeframerCases) {
  struct {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<Bytes> packets;
  } cases[] = {
      {"doubled DLE reduced", {{0x10, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03}}, {{0x41, 0x10, 0x42}}},
      {"DLE ETX inside the payload",
       {{0x10, 0x41, 0x10, 0x10, 0x03, 0x10, 0x03}},
       {{0x41, 0x10, 0x03}}},
      {"split between DLE and ETX", {{0x10, 0x41, 0x42, 0x10}, {0x03}}, {{0x41, 0x42}}},
      {"split after the start", {{0x10}, {0x41, 0x42, 0x10, 0x03}}, {{0x41, 0x42}}},
      {"two frames in one chunk",
       {{0x10, 0x54, 0x10, 0x03, 0x10, 0x58, 0x01, 0x10, 0x03}},
       {{0x54}, {0x58, 0x01}}},
      {"hunting skips DLE ETX", {{0x10, 0x03, 0x41, 0x10, 0x03}}, {{0x41}}},
      {"hunting skips 0xFF", {{0x10, 0xFF, 0x10, 0x41, 0x10, 0x03}}, {{0x41}}},
      {"DLE DLE alone starts nothing", {{0x10, 0x10}}, {}},
      {"garbage before the first DLE", {{0x55, 0x03, 0xFF, 0x10, 0x26, 0x10, 0x03}}, {{0x26}}},
  };
  for (auto& c : cases) {
    TDeframer deframer;
    EXPECT_EQ(Deframe(deframer, c.chunks), c.packets) << c.name;
  }
}

TEST(DleFraming, LargestPacketIs511AndOverflowStaysUntilHunt) {
  TDeframer deframer;
  Bytes largest{0x10};
  largest.insert(largest.end(), 511, 0x41);
  largest.insert(largest.end(), {0x10, 0x03});
  auto packets = Deframe(deframer, {largest});
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].size(), 511u);

  Bytes tooLong{0x10};
  tooLong.insert(tooLong.end(), 512, 0x41);
  tooLong.insert(tooLong.end(), {0x10, 0x03});
  Bytes next{0x10, 0x54, 0x10, 0x03};
  EXPECT_TRUE(Deframe(deframer, {tooLong, next}).empty());
  EXPECT_TRUE(deframer.InSync());
  deframer.Hunt();
  EXPECT_EQ(Deframe(deframer, {next}), (std::vector<Bytes>{{0x54}}));
}
