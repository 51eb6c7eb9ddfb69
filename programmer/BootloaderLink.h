// The link to the bootloader and the resident, under the programming stages: 9-byte command
// frames, 128-byte memory reads, single-byte replies, the awaited texts and the greeting's
// answer. Every wait here also ends when the job is asked to stop.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
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

class TBootloaderLink {
 public:
  TBootloaderLink(TPortIO& port, TJob& job) : port_(port), job_(job) {}
  TBootloaderLink(const TBootloaderLink&) = delete;
  TBootloaderLink& operator=(const TBootloaderLink&) = delete;

  TPortIO& Port() { return port_; }

  // Writes one 9-byte command frame: the rate 115200, the opcode and the argument.
  void SendCommand(TBootOpcode code, std::uint32_t argument);

  // Reads 128 bytes of the receiver's memory into the block.
  TLinkWait ReadBlock(std::uint32_t address);
  std::array<std::uint8_t, BlockSize> Block() const;
  bool BlockErased() const;
  // A new inquiry starts counting reply bytes from the block's first byte again.
  void RealignBlocks();

  // Single-byte replies: Listen installs the handler (it stays until another is installed);
  // ExpectReply is called before the request whose reply WaitReply awaits is written.
  void ListenForReplies();
  void ExpectReply();
  TLinkWait WaitReply(int milliseconds, std::uint8_t& reply);

  // Awaited texts: Expect arms the search (the greeting is answered as soon as it is seen);
  // WaitText waits for the text armed last.
  void ExpectText(const std::string& text);
  TLinkWait WaitText(int milliseconds);
  // The greeting was answered: the bootloader now waits for the resident's image.
  bool GreetingAnswered() const { return greetingAnswered_; }

  // A pause that a stop request ends early; false when stopped.
  bool Pause(int milliseconds);
  bool Stopped() const { return job_.StopRequested(); }

  // Removes the link's handlers from the port.
  void Detach();

 private:
  void OnBlockData(const std::uint8_t* bytes, int count);
  void OnAckData(const std::uint8_t* bytes, int count);
  void OnGreeting(const std::uint8_t* bytes, int count, const std::string& text);
  TLinkWait WaitEvent(plat::TEvent& event, int milliseconds);

  TPortIO& port_;
  TJob& job_;
  plat::TEvent replyEvent_{plat::TEvent::ResetMode::Auto, false};
  mutable std::mutex ackLock_;
  std::uint8_t ackByte_ = 0;
  mutable std::mutex blockLock_;  // the block and its count, shared with the reader
  std::array<std::uint8_t, BlockSize> replyBlock_{};
  int replyCount_ = 0;
  std::atomic<bool> greetingAnswered_{false};
};

// "Error (" + two upper-case hex digits + "h)", in the current language.
std::string RefusalStatus(std::uint8_t byte);
