// The programming thread: brings the receiver into its bootloader, uploads the resident, reads
// versions, erases, writes the system file in checked frames and restarts the receiver. One
// command at a time, given through WriteMode; the outcome of the last stage in WriteResult.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "programmer/JobView.h"
#include "receiver/NavReceiverExU.h"

constexpr std::int32_t ModePrepare = 0;
constexpr std::int32_t ModeVersions = 1;
constexpr std::int32_t ModeProgram = 2;

constexpr std::int32_t ResultNothing = 0;
constexpr std::int32_t ResultSuccess = 1;
constexpr std::int32_t ResultConnect = 2;
constexpr std::int32_t ResultResident = 3;
constexpr std::int32_t ResultErase = 4;
constexpr std::int32_t ResultWrite = 5;

// Constants of the bootloader link.
constexpr const char* RestartAnswer = "Restart";
constexpr const char* BootGreeting = "#$#%";
constexpr const char* ResidentAnswer = "FLASH PROG";
constexpr std::int32_t BootRate = 115200;
constexpr int RestartCommandPauseMs = 500;  // before the restart command into the bootloader
constexpr int RestartAnswerMs = 1500;       // for the receiver's "Restart"
constexpr int GreetingWaitSeconds = 10;
constexpr std::uint32_t BootInfoBase = 0x01000000;
constexpr std::uint32_t FirmwareBase = 0x01010000;
constexpr std::uint32_t FirmwareSpan = 0x32000;
constexpr const char* BootSignature = "Kuvreth";
constexpr const char* FirmwareSignature = "=== Device ID";

struct TVersionInfo {
  std::string Number;
  std::string Date;
  std::string Time;
};

struct TReceiverVersions {
  TVersionInfo Boot;
  TVersionInfo Firmware;
};

// Written by the programming thread, read by the UI thread inside the synchronous calls.
extern std::atomic<std::int32_t> WriteMode;
extern std::atomic<std::int32_t> WriteResult;
extern TReceiverVersions ReceiverVersions;
extern TProgressInfo ProgressInfo;

class TSystemWriteThr;

// The current programming thread or none: set by the run control, cleared by the thread itself.
class TSystemWriteThrRef {
 public:
  std::shared_ptr<TSystemWriteThr> Get() const;
  void Set(std::shared_ptr<TSystemWriteThr> thread);
  // Clears the reference when it still names this thread.
  void ClearIf(const TSystemWriteThr* thread);
  explicit operator bool() const { return Get() != nullptr; }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<TSystemWriteThr> thread_;
};
extern TSystemWriteThrRef SystemWriteThr;

// The port number a name of the form COM<number> holds after its first three characters;
// 0 when they are not a decimal number.
std::int32_t ComPortNumber(const std::string& name);

// Stores the command; resumes the current thread (a new one starts its body).
void SetWriteMode(std::int32_t mode);

class TSystemWriteThr : public plat::TThread {
 public:
  // The thread shares the session: it never outlives the port it uses.
  TSystemWriteThr(std::shared_ptr<TNavReceiver> session, std::shared_ptr<TJobView> view);

  // Link primitives (public for the tests that drive them against a scripted peer).
  void SendCommand(char code, std::uint32_t argument);
  std::int32_t ReadBlock(std::uint32_t address);
  bool BlockErased() const;
  bool WaitAck(int milliseconds, std::uint8_t& reply);
  std::uint8_t GetAck() const;
  void SetAck(std::uint8_t byte);
  void SendGreetingReply();
  void OnBlockData(const std::uint8_t* bytes, int count);
  void OnAckData(const std::uint8_t* bytes, int count);
  void OnGreeting(const std::uint8_t* bytes, int count, const std::string& text);
  void StageLine(const std::string& text, const std::string& status);
  void PlainLine(const std::string& text, const std::string& status);

  // Stages.
  std::int32_t ConnectBootloader();
  std::int32_t UploadResident();
  std::int32_t ReadBootVersion();
  std::int32_t ReadFirmwareVersion();
  std::int32_t EraseFlash();
  std::int32_t WriteSystem();
  std::int32_t RestartSystem();
  std::int32_t FindSignature(std::uint32_t base, std::int32_t offset, const std::string& signature);
  std::int32_t ReadAndShift(std::uint32_t address);

  bool ResidentLoaded() const { return residentLoaded_; }

 protected:
  void Execute() override;

 private:
  void RunCommands();
  // Opens an inquiry's log line and clears what it is about to read.
  TVersionInfo& BeginInquiry(const std::string& stage, TVersionInfo& info);
  void Prepare();
  std::int32_t ReadVersions();
  void ProgramCommand();
  TPortIO& Port() { return session_->Port(); }

  std::shared_ptr<TNavReceiver> session_;
  std::shared_ptr<TJobView> view_;

  plat::TEvent ReplyEvent{plat::TEvent::ResetMode::Auto, false};
  mutable std::mutex AckLock;
  std::uint8_t AckByte = 0;
  mutable std::mutex blockLock_;  // ReplyBlock and ReplyCount, shared with the reader
  std::uint8_t ReplyBlock[128] = {};
  std::uint32_t ReplyCount = 0;
  std::uint8_t SearchWindow[256] = {};
  std::atomic<bool> residentLoaded_{false};
};

// "Error (" + two upper-case hex digits + "h)", in the current language.
std::string RefusalStatus(std::uint8_t byte);
