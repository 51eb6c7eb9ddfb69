// DLE framing of binary packets: DLE, the payload with every DLE doubled, DLE, ETX.
#pragma once

#include <cstdint>
#include <mutex>

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;
constexpr int FrameBufferSize = 512;
constexpr int PacketBufferSize = 512;

// Builds one frame of the payload into frame (FrameBufferSize bytes). Returns the frame's length,
// or 0 when the message does not fit (more than 512 bytes, or more than 509 after doubling).
int BuildDleFrame(const std::uint8_t* payload, int count, std::uint8_t* frame);

// The receiving half: turns the byte stream back into packets. Its state carries over between
// chunks; only the reader feeds it, and Hunt may come from any thread.
class TDeframer {
 public:
  TDeframer() { Clear(); }

  // Clears the packet buffer (also the DLE-seen mark) and goes back to hunting.
  void Clear();
  // Back to hunting (Purge): the packet buffer and its DLE-seen mark are left alone.
  void Hunt();
  bool InSync() const;

  // Feeds one chunk; onPacket(bytes, length) is called for every complete packet, in order.
  template <typename OnPacket>
  void Feed(const std::uint8_t* bytes, int count, OnPacket&& onPacket);

 private:
  void SetInSync(bool value);

  mutable std::mutex syncLock_;
  bool inSync_ = false;
  bool dleFlag_ = false;
  std::uint8_t packet_[PacketBufferSize];
  std::uint32_t packetLength_ = 0;
};

template <typename OnPacket>
void TDeframer::Feed(const std::uint8_t* bytes, int count, OnPacket&& onPacket) {
  bool inSync = InSync();
  if (!inSync) packetLength_ = 0;
  for (int i = 0; i < count; ++i) {
    std::uint8_t b = bytes[i];
    if (!inSync) {
      // Hunting: once a DLE has been seen, the first byte that is none of DLE, ETX and 0xFF
      // starts a packet. The mark lives in the packet's first byte.
      if (packet_[0] == kDle && b != kDle && b != kEtx && b != 0xFF) {
        inSync = true;
        SetInSync(true);
        dleFlag_ = false;
        packetLength_ = 0;
      } else {
        if (b == kDle) packet_[0] = kDle;
        continue;
      }
    }
    if (packetLength_ > 0 && packet_[packetLength_ - 1] == kDle && dleFlag_ && b == kEtx) {
      --packetLength_;
      onPacket(static_cast<const std::uint8_t*>(packet_), static_cast<int>(packetLength_));
      Clear();
      inSync = false;
      continue;
    }
    if (packetLength_ >= PacketBufferSize) return;  // overflow: the rest of the chunk is lost
    packet_[packetLength_++] = b;
    if (b == kDle) {
      if (dleFlag_) {
        --packetLength_;
        dleFlag_ = false;
      } else {
        dleFlag_ = true;
      }
    }
  }
}
