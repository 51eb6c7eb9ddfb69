#include "programmer/BootloaderLink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "appdata/Language.h"

std::string RefusalStatus(std::uint8_t byte) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", byte);
  return std::string(Tr("ошибка (", "Error (")) + hex + "h)";
}

void TBootloaderLink::SendCommand(TBootOpcode code, std::uint32_t argument) {
  std::uint8_t frame[9];
  const auto rate = static_cast<std::uint32_t>(BootRate);
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(rate >> (8 * i));
  frame[4] = static_cast<std::uint8_t>(code);
  for (int i = 0; i < 4; ++i) frame[5 + i] = static_cast<std::uint8_t>(argument >> (8 * i));
  port_.Write(frame, sizeof frame);
}

TLinkWait TBootloaderLink::WaitEvent(plat::TEvent& event, int milliseconds) {
  switch (event.Wait(milliseconds, job_.Stop)) {
    case plat::TEvent::TWait::Signalled:
      return TLinkWait::Arrived;
    case plat::TEvent::TWait::TimedOut:
      return TLinkWait::TimedOut;
    default:
      return TLinkWait::Stopped;
  }
}

TLinkWait TBootloaderLink::ReadBlock(std::uint32_t address) {
  port_.SetFramed(false);
  replyEvent_.Reset();
  // The handler is in place before the request goes out, so the reply cannot come first.
  port_.OnData.Bind<&TBootloaderLink::OnBlockData>(this);
  SendCommand(TBootOpcode::ReadMemory, address);
  return WaitEvent(replyEvent_, BlockReadMs);
}

std::array<std::uint8_t, BlockSize> TBootloaderLink::Block() const {
  std::lock_guard<std::mutex> lock(blockLock_);
  return replyBlock_;
}

bool TBootloaderLink::BlockErased() const {
  std::lock_guard<std::mutex> lock(blockLock_);
  return std::all_of(replyBlock_.begin(), replyBlock_.end(),
                     [](std::uint8_t b) { return b == 0xFF; });
}

void TBootloaderLink::RealignBlocks() {
  std::lock_guard<std::mutex> lock(blockLock_);
  replyCount_ = 0;
}

void TBootloaderLink::OnBlockData(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  bool complete = false;
  {
    std::lock_guard<std::mutex> lock(blockLock_);
    const int n = std::min(count, BlockSize - replyCount_);
    std::memcpy(replyBlock_.data() + replyCount_, bytes, static_cast<std::size_t>(n));
    replyCount_ += n;  // the rest of the chunk is dropped
    if (replyCount_ >= BlockSize) {
      replyCount_ = 0;
      complete = true;
    }
  }
  if (complete) replyEvent_.Set();
}

void TBootloaderLink::ListenForReplies() {
  port_.SetFramed(false);
  port_.OnData.Bind<&TBootloaderLink::OnAckData>(this);
}

void TBootloaderLink::ExpectReply() {
  replyEvent_.Reset();
}

void TBootloaderLink::OnAckData(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(ackLock_);
    ackByte_ = bytes[0];  // the other bytes of the chunk are ignored
  }
  replyEvent_.Set();
}

TLinkWait TBootloaderLink::WaitReply(int milliseconds, std::uint8_t& reply) {
  reply = 0;
  TLinkWait outcome = WaitEvent(replyEvent_, milliseconds);
  if (outcome == TLinkWait::Arrived) {
    std::lock_guard<std::mutex> lock(ackLock_);
    reply = ackByte_;
  }
  return outcome;
}

void TBootloaderLink::ExpectText(const std::string& text) {
  port_.ExpectAnswer(text);
  port_.OnAnswer.Bind<&TBootloaderLink::OnGreeting>(this);
}

TLinkWait TBootloaderLink::WaitText(int milliseconds) {
  return WaitEvent(port_.AnswerEvent, milliseconds);
}

void TBootloaderLink::OnGreeting(const std::uint8_t*, int, const std::string& text) {
  // The port signals AnswerEvent after this returns: 0xCC is queued when the waiter wakes. A
  // stopped job answers nothing more: the bootloader then starts the working firmware again.
  if (text == BootGreeting && !Stopped()) {
    const std::uint8_t answer = BootByte::GreetingAnswer;
    port_.Write(&answer, 1);
    greetingAnswered_ = true;
  }
}

bool TBootloaderLink::Pause(int milliseconds) {
  return job_.Stop.SleepFor(milliseconds);
}

void TBootloaderLink::Detach() {
  port_.OnData.Clear();
  port_.OnAnswer.Clear();
  port_.OnPacket.Clear();
}
