#include "device/SimFraming.h"

namespace sim {

namespace {
constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t ETX = 0x03;
}  // namespace

Bytes FrameZorp(const Bytes& packet) {
  Bytes wire{DLE};
  for (std::uint8_t b : packet) {
    wire.push_back(b);
    if (b == DLE) wire.push_back(DLE);
  }
  wire.push_back(DLE);
  wire.push_back(ETX);
  return wire;
}

void TZorpCollector::Reset() {
  state_ = State::Idle;
  packet_.clear();
}

void TZorpCollector::Push(std::uint8_t byte) {
  switch (state_) {
    case State::Idle:
      if (byte == DLE) state_ = State::Start;
      break;
    case State::Start:
      // DLE DLE or DLE ETX at a frame start is no packet; keep looking for the start.
      if (byte == DLE) break;
      if (byte == ETX) {
        state_ = State::Idle;
        break;
      }
      packet_.assign(1, byte);
      state_ = State::Body;
      break;
    case State::Body:
      if (byte == DLE) {
        state_ = State::BodyDle;
      } else if (packet_.size() < kMaxPacket) {
        packet_.push_back(byte);
      } else {
        Reset();
      }
      break;
    case State::BodyDle:
      if (byte == DLE) {
        // A doubled DLE is one payload byte: it counts against the limit like any other.
        if (packet_.size() < kMaxPacket) {
          packet_.push_back(DLE);
          state_ = State::Body;
        } else {
          Reset();
        }
      } else if (byte == ETX) {
        Bytes done;
        done.swap(packet_);
        state_ = State::Idle;
        onPacket_(done);
      } else {
        // A lone DLE inside a frame: the frame was broken; this byte may start the next one.
        packet_.clear();
        state_ = State::Start;
        Push(byte);
      }
      break;
  }
}

}  // namespace sim
