#include "programmer/BootloaderLink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "appdata/Language.h"

namespace {

void PutU32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 9-byte command frame: the rate 115200, the opcode and the argument.
struct TCommandFrame {
  TCommandFrame(TBootOpcode code, std::uint32_t argument) {
    PutU32(Bytes, static_cast<std::uint32_t>(BootRate));
    Bytes[4] = static_cast<std::uint8_t>(code);
    PutU32(Bytes + 5, argument);
  }
  std::uint8_t Bytes[9];
};

}  // namespace

std::string RefusalStatus(std::uint8_t byte) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", byte);
  return std::string(Tr("ошибка (", "Error (")) + hex + "h)";
}

void TBootloaderLink::Attach(TPortIO& port) {
  port_ = &port;
}

void TBootloaderLink::Send(const std::uint8_t* bytes, int count) {
  if (TPortIO* port = port_) port->Write(bytes, count);
}

void TBootloaderLink::SendCommand(TBootOpcode code, std::uint32_t argument) {
  const TCommandFrame frame(code, argument);
  Send(frame.Bytes, sizeof frame.Bytes);
}

TLinkWait TBootloaderLink::Wait(plat::TEvent& event, int milliseconds) {
  switch (event.Wait(milliseconds, job_.Stop)) {
    case plat::TEvent::TWait::Signalled:
      return TLinkWait::Arrived;
    case plat::TEvent::TWait::TimedOut:
      return TLinkWait::TimedOut;
    default:
      return TLinkWait::Stopped;
  }
}

// ---- The greeting and the resident upload ----

void TBootloaderLink::ExpectGreeting() {
  TPortIO* port = port_;
  if (port == nullptr) return;
  port->ExpectAnswer(BootGreeting);
  port->OnAnswer.Bind<&TBootloaderLink::OnGreeting>(this);
}

TLinkWait TBootloaderLink::WaitGreeting(int milliseconds) {
  TPortIO* port = port_;
  if (port == nullptr) return Stopped() ? TLinkWait::Stopped : TLinkWait::TimedOut;
  return Wait(port->AnswerEvent, milliseconds);
}

void TBootloaderLink::OnGreeting(const std::uint8_t*, int, const std::string& text) {
  // The port signals AnswerEvent after this returns: 0xCC is queued when the waiter wakes. A
  // stopped job answers nothing more: the bootloader then starts the working firmware again.
  if (text == BootGreeting && !Stopped()) {
    const std::uint8_t answer = BootByte::GreetingAnswer;
    Send(&answer, 1);
    greetingAnswered_ = true;
  }
}

TLinkWait TBootloaderLink::UploadResident(const TJobImages& images) {
  TPortIO* port = port_;
  if (port == nullptr) return Stopped() ? TLinkWait::Stopped : TLinkWait::TimedOut;
  port->ExpectAnswer(ResidentAnswer);
  std::vector<std::uint8_t> upload(8 + images.ResidentImage.size());
  PutU32(upload.data(), images.ResidentSize);
  PutU32(upload.data() + 4, images.ResidentSum);
  std::copy(images.ResidentImage.begin(), images.ResidentImage.end(), upload.begin() + 8);
  Send(upload.data(), static_cast<int>(upload.size()));
  return Wait(port->AnswerEvent, ResidentAnswerMs);
}

// ---- Memory reads ----

TLinkWait TBootloaderLink::ReadBlock(std::uint32_t address) {
  if (TPortIO* port = port_) {
    port->SetFramed(false);
    replyEvent_.Reset();
    // The handler is in place before the request goes out, so the reply cannot come first.
    port->OnData.Bind<&TBootloaderLink::OnBlockData>(this);
  }
  SendCommand(TBootOpcode::ReadMemory, address);
  return Wait(replyEvent_, BlockReadMs);
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

// ---- Exchanges answered by one byte ----

TLinkWait TBootloaderLink::Exchange(const std::uint8_t* bytes, int count, int milliseconds,
                                    std::uint8_t& reply,
                                    const std::function<void()>& whileWaiting) {
  if (TPortIO* port = port_) {
    port->SetFramed(false);
    port->OnData.Bind<&TBootloaderLink::OnAckData>(this);
  }
  replyEvent_.Reset();
  Send(bytes, count);
  if (whileWaiting) whileWaiting();
  reply = 0;
  const TLinkWait outcome = Wait(replyEvent_, milliseconds);
  if (outcome == TLinkWait::Arrived) {
    std::lock_guard<std::mutex> lock(ackLock_);
    reply = ackByte_;
  }
  return outcome;
}

void TBootloaderLink::OnAckData(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(ackLock_);
    ackByte_ = bytes[0];  // the other bytes of the chunk are ignored
  }
  replyEvent_.Set();
}

TLinkWait TBootloaderLink::Erase(std::uint32_t length, std::uint8_t& reply,
                                 const std::function<void()>& whileWaiting) {
  const TCommandFrame frame(TBootOpcode::Erase, length);
  const TLinkWait outcome =
      Exchange(frame.Bytes, sizeof frame.Bytes, EraseReplyMs, reply, whileWaiting);
  if (outcome == TLinkWait::Arrived && reply == BootByte::Accepted) takingFrames_ = true;
  return outcome;
}

TLinkWait TBootloaderLink::WriteFrame(const std::uint8_t* data, std::size_t count,
                                      std::uint8_t& reply,
                                      const std::function<void()>& whileWaiting) {
  std::uint8_t frame[FrameDataSize + 4];
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < FrameDataSize; ++i) {
    frame[i] = i < count ? data[i] : 0xFF;
    sum += frame[i];
  }
  PutU32(frame + FrameDataSize, sum);
  const TLinkWait outcome = Exchange(frame, sizeof frame, FrameReplyMs, reply, whileWaiting);
  // A frame refused for its sum or its programming ends the resident's write phase.
  if (reply == BootByte::FrameSumWrong || reply == BootByte::FrameProgramFailed)
    takingFrames_ = false;
  return outcome;
}

TLinkWait TBootloaderLink::SendCheckWord(std::uint32_t sum, std::uint8_t& reply,
                                         const std::function<void()>& whileWaiting) {
  std::uint8_t word[4];
  PutU32(word, sum);
  const TLinkWait outcome = Exchange(word, sizeof word, FrameReplyMs, reply, whileWaiting);
  // Whatever it answers to the check word, the resident takes command frames again: the restart
  // then needs only its usual pause, not the write phase's silence.
  if (outcome == TLinkWait::Arrived) takingFrames_ = false;
  return outcome;
}

void TBootloaderLink::Restart() {
  // The pause before the restart frame is kept on a stop too: the resident needs it. A write
  // that ended early left the resident taking frame data: it needs the longer silence.
  std::this_thread::sleep_for(
      std::chrono::milliseconds(takingFrames_ ? WritePhaseSilenceMs : RestartFramePauseMs));
  SendCommand(TBootOpcode::Restart, 0);
}

bool TBootloaderLink::Pause(int milliseconds) {
  return job_.Stop.SleepFor(milliseconds);
}

void TBootloaderLink::Detach() {
  TPortIO* port = port_;
  if (port == nullptr) return;
  port->OnData.Clear();
  port->OnAnswer.Clear();
  port->OnPacket.Clear();
}
