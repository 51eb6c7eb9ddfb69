// The link to the bootloader and the resident: 9-byte command frames, 128-byte memory reads,
// single-byte replies and the greeting's answer.
#include <cstdio>
#include <cstring>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

namespace {
constexpr int BlockReadMs = 500;
}

std::string RefusalStatus(std::uint8_t byte) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", byte);
  return std::string(Tr("ошибка (", "Error (")) + hex + "h)";
}

void TSystemWriteThr::SendCommand(char code, std::uint32_t argument) {
  std::uint8_t frame[9];
  const std::uint32_t rate = BootRate;
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(rate >> (8 * i));
  frame[4] = static_cast<std::uint8_t>(code);
  for (int i = 0; i < 4; ++i) frame[5 + i] = static_cast<std::uint8_t>(argument >> (8 * i));
  Port().Write(frame, sizeof frame);
}

std::int32_t TSystemWriteThr::ReadBlock(std::uint32_t address) {
  Port().SetFramed(false);
  ReplyEvent.Reset();
  // The handler is in place before the request goes out, so the reply cannot come first.
  Port().OnData.Bind<&TSystemWriteThr::OnBlockData>(this);
  SendCommand('[', address);
  return ReplyEvent.Wait(BlockReadMs) ? 0 : -1;
}

bool TSystemWriteThr::BlockErased() const {
  std::lock_guard<std::mutex> lock(blockLock_);
  for (std::uint8_t b : ReplyBlock)
    if (b != 0xFF) return false;
  return true;
}

void TSystemWriteThr::OnBlockData(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  bool complete = false;
  {
    std::lock_guard<std::mutex> lock(blockLock_);
    std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(count), 128 - ReplyCount);
    std::memcpy(ReplyBlock + ReplyCount, bytes, n);
    ReplyCount += n;
    if (ReplyCount >= 128) {
      ReplyCount = 0;
      complete = true;
    }
  }
  if (complete) ReplyEvent.Set();
}

void TSystemWriteThr::OnAckData(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  SetAck(bytes[0]);
  ReplyEvent.Set();
}

bool TSystemWriteThr::WaitAck(int milliseconds, std::uint8_t& reply) {
  reply = 0;
  if (!ReplyEvent.Wait(milliseconds)) return false;
  reply = GetAck();
  return true;
}

std::uint8_t TSystemWriteThr::GetAck() const {
  std::lock_guard<std::mutex> lock(AckLock);
  return AckByte;
}

void TSystemWriteThr::SetAck(std::uint8_t byte) {
  std::lock_guard<std::mutex> lock(AckLock);
  AckByte = byte;
}

void TSystemWriteThr::SendGreetingReply() {
  const std::uint8_t reply = 0xCC;
  Port().Write(&reply, 1);
}

void TSystemWriteThr::OnGreeting(const std::uint8_t*, int, const std::string& text) {
  // The port signals AnswerEvent after this returns: 0xCC is queued when the waiter wakes.
  if (text == BootGreeting) SendGreetingReply();
}
