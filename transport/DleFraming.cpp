#include "transport/DleFraming.h"

#include <cstring>

int BuildDleFrame(const std::uint8_t* payload, int count, std::uint8_t* frame) {
  if (count > FrameBufferSize || count < 0) return 0;
  int pos = 0;
  frame[pos++] = kDle;
  for (int i = 0; i < count; ++i) {
    int needed = payload[i] == kDle ? 2 : 1;
    if (pos + needed - 1 > 509) return 0;
    frame[pos++] = payload[i];
    if (payload[i] == kDle) frame[pos++] = kDle;
  }
  frame[pos++] = kDle;
  frame[pos++] = kEtx;
  return pos;
}

void TDeframer::Clear() {
  std::memset(packet_, 0, sizeof packet_);
  packetLength_ = 0;
  SetInSync(false);
}

void TDeframer::Hunt() {
  SetInSync(false);
}

bool TDeframer::InSync() const {
  std::lock_guard<std::mutex> lock(syncLock_);
  return inSync_;
}

void TDeframer::SetInSync(bool value) {
  std::lock_guard<std::mutex> lock(syncLock_);
  inSync_ = value;
}
