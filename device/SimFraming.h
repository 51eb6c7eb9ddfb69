// The device's own view of the binary protocol's frames: DLE, payload with DLE doubled, DLE ETX.
// Written from the wire format alone; it shares no code with the updater's framer.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

Bytes FrameZorp(const Bytes& packet);

// Collects frames byte by byte. Garbage between frames is skipped; an over-long frame is
// dropped, so the receiver keeps bounded memory whatever arrives.
class TZorpCollector {
 public:
  explicit TZorpCollector(std::function<void(const Bytes&)> onPacket)
      : onPacket_(std::move(onPacket)) {}
  void Push(std::uint8_t byte);
  void Reset();

 private:
  enum class State { Idle, Start, Body, BodyDle };
  static constexpr std::size_t kMaxPacket = 1024;
  std::function<void(const Bytes&)> onPacket_;
  State state_ = State::Idle;
  Bytes packet_;
};

}  // namespace sim
