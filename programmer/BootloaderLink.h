// The link to the bootloader and the resident, under the programming stages: the greeting's
// answer, the resident upload, 9-byte command frames (memory read, erase, restart), data frames
// and the check word with their single-byte replies. Every wait here also ends when the job is
// asked to stop.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "programmer/Job.h"
#include "transport/PortIOUEx.h"

// Command characters of the resident's 9-byte frames.
enum class TBootOpcode : char {
  ReadMemory = '[',  // argument: the address; reply: 128 raw bytes from there
  Erase = '3',       // argument: the number of bytes that will be written; reply: one byte
  Restart = 'Z',     // argument: 0; no reply
};

// Single bytes on the link.
namespace BootByte {
constexpr std::uint8_t Accepted = 0xAA;          // erased, or a data frame taken: send the next
constexpr std::uint8_t LastFrame = 0xEF;         // every announced byte has arrived
constexpr std::uint8_t CheckWordMatches = 0xBA;  // the check word equals the flash's sum
constexpr std::uint8_t GreetingAnswer = 0xCC;    // the updater's answer to the greeting
// The resident's refusals; the updater shows them as they are and does not tell them apart.
constexpr std::uint8_t LengthTooLarge = 0xEC;
constexpr std::uint8_t FlashStepFailed = 0xEE;
constexpr std::uint8_t FrameSumWrong = 0xED;
constexpr std::uint8_t FrameProgramFailed = 0xE1;
constexpr std::uint8_t CheckWordWrong = 0xFE;
}  // namespace BootByte

// Texts the receiver sends on the link.
constexpr const char* RestartAnswer = "Restart";
constexpr const char* BootGreeting = "#$#%";
constexpr const char* ResidentAnswer = "FLASH PROG";

// The line of the bootloader and the resident, and the value every command frame carries.
constexpr std::int32_t BootRate = 115200;
constexpr int BlockSize = 128;
constexpr std::size_t FrameDataSize = 1024;  // the image bytes of one data frame

// Waits and pauses of the engine, in milliseconds.
constexpr int RestartCommandPauseMs = 500;  // before the restart command into the bootloader
constexpr int RestartAnswerMs = 1500;       // for the receiver's "Restart"
constexpr int GreetingArmPauseMs = 10;      // after arming the search for the greeting
constexpr int GreetingWaitSeconds = 10;     // one wait of a second each, counted down
constexpr int UploadPauseMs = 300;          // before and after the resident upload
constexpr int ResidentAnswerMs = 5000;      // for "FLASH PROG"
constexpr int BlockReadMs = 500;            // one memory read
constexpr int EraseReplyMs = 30000;         // the erase reply
constexpr int FrameReplyMs = 1500;          // a data frame's and the check word's reply
constexpr int RetryPauseMs = 1500;          // before a failed write is repeated
constexpr int RestartFramePauseMs = 200;    // before the restart frame
// A resident that takes data frames hears commands again after a second of silence: a restart
// command sent sooner would be taken as frame data.
constexpr int WritePhaseSilenceMs = 1200;

// How a wait on the link ended.
enum class TLinkWait { Arrived, TimedOut, Stopped };

// The bootloader's and the resident's protocol, one function per exchange. The link is given the
// port by the session that owned it (Attach); the stages never write to the port themselves.
class TBootloaderLink {
 public:
  explicit TBootloaderLink(TJob& job) : job_(job) {}
  TBootloaderLink(const TBootloaderLink&) = delete;
  TBootloaderLink& operator=(const TBootloaderLink&) = delete;

  // The port for the bootloader phase, handed over at 115200 bit/s without parity, raw. Before
  // it is attached the exchanges send nothing and find no answer.
  void Attach(TPortIO& port);

  // The greeting's answer: arms the search for "#$#%", which is answered with 0xCC on the port's
  // reader as soon as it is seen, so that the byte is queued when WaitGreeting returns.
  void ExpectGreeting();
  TLinkWait WaitGreeting(int milliseconds);
  // The greeting was answered: the bootloader now waits for the resident's image.
  bool GreetingAnswered() const { return greetingAnswered_; }

  // The resident upload: its length, its sum and the image, then "FLASH PROG" awaited.
  TLinkWait UploadResident(const TJobImages& images);

  // A memory read: 128 bytes of the receiver's memory from the address into the block.
  TLinkWait ReadBlock(std::uint32_t address);
  std::array<std::uint8_t, BlockSize> Block() const;
  bool BlockErased() const;
  // A new inquiry starts counting reply bytes from the block's first byte again.
  void RealignBlocks();

  // The exchanges answered by a single byte. whileWaiting runs once the request is queued and
  // before its reply is awaited (a reply that comes meanwhile is kept); the reply is 0 unless it
  // arrived.
  // The erase: the number of bytes that will be written.
  TLinkWait Erase(std::uint32_t length, std::uint8_t& reply,
                  const std::function<void()>& whileWaiting);
  // A data frame: up to 1,024 bytes of the image (the rest of the frame 0xFF) and their sum.
  TLinkWait WriteFrame(const std::uint8_t* data, std::size_t count, std::uint8_t& reply,
                       const std::function<void()>& whileWaiting);
  // The check word: the sum of the whole image.
  TLinkWait SendCheckWord(std::uint32_t sum, std::uint8_t& reply,
                          const std::function<void()>& whileWaiting);
  // The restart command, after the silence the resident needs: a stop does not shorten it.
  void Restart();
  // The resident accepted the erase and is still in its write phase: it has neither refused a
  // frame for its sum or its programming nor answered the check word.
  bool TakingFrames() const { return takingFrames_; }

  // A wait on the event that a stop request also ends.
  TLinkWait Wait(plat::TEvent& event, int milliseconds);
  // A pause that a stop request ends early; false when stopped.
  bool Pause(int milliseconds);
  bool Stopped() const { return job_.StopRequested(); }

  // Removes the link's handlers from the port.
  void Detach();

 private:
  void Send(const std::uint8_t* bytes, int count);
  void SendCommand(TBootOpcode code, std::uint32_t argument);
  // Sends a request answered by a single byte and awaits that byte.
  TLinkWait Exchange(const std::uint8_t* bytes, int count, int milliseconds, std::uint8_t& reply,
                     const std::function<void()>& whileWaiting);
  void OnBlockData(const std::uint8_t* bytes, int count);
  void OnAckData(const std::uint8_t* bytes, int count);
  void OnGreeting(const std::uint8_t* bytes, int count, const std::string& text);

  TJob& job_;
  std::atomic<TPortIO*> port_{nullptr};
  plat::TEvent replyEvent_{plat::TEvent::ResetMode::Auto, false};
  mutable std::mutex ackLock_;
  std::uint8_t ackByte_ = 0;
  mutable std::mutex blockLock_;  // the block and its count, shared with the reader
  std::array<std::uint8_t, BlockSize> replyBlock_{};
  int replyCount_ = 0;
  std::atomic<bool> greetingAnswered_{false};
  bool takingFrames_ = false;  // the programming thread's alone
};

// "Error (" + two upper-case hex digits + "h)", in the current language.
std::string RefusalStatus(std::uint8_t byte);
