// The programming thread: brings the receiver into its bootloader, uploads the resident, reads
// versions, erases, writes the system file in checked frames and restarts the receiver. It runs
// one job (TJob): one command at a time, given through the job's WriteMode, with the outcome of
// the last stage in the job's WriteResult.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Thread.h"
#include "programmer/BootloaderLink.h"
#include "programmer/Job.h"
#include "programmer/JobView.h"
#include "receiver/NavReceiverExU.h"

class TSystemWriteThr : public plat::TThread {
 public:
  // The thread shares the session, so it never outlives the port it uses.
  TSystemWriteThr(std::shared_ptr<TJob> job, std::shared_ptr<TNavReceiver> session,
                  std::shared_ptr<TJobView> view);

  // Gives the thread its next command: a new thread starts its body, a waiting one goes on.
  void SetWriteMode(std::int32_t mode);
  // Asks the thread to end: every wait ends at once; the resident, when it may be running, is
  // still sent the restart command.
  void Stop();

  TJob& Job() { return *job_; }
  // The resident may be running on the receiver: it is owed the restart command.
  bool ResidentMayRun() const { return residentMayRun_; }
  // The thread has let go of its job: its final steps are done (it may still be reporting).
  bool Released() const { return released_; }

  // Progress lines (the log list's rule): a stage line is indented by two blanks.
  void StageLine(const std::string& text, const std::string& status);
  void PlainLine(const std::string& text, const std::string& status);

  // Stages; each returns ResultSuccess or its own result code.
  std::int32_t ConnectBootloader();
  std::int32_t UploadResident();
  std::int32_t EraseFlash();
  std::int32_t WriteSystem();
  std::int32_t RestartSystem();
  // The production line's stages (ReadBack.cpp): the firmware in the receiver saved to the job's
  // backup folder before the erase (ResultErase when it could not be saved), and the written
  // image read back and compared after the check word (ResultWrite when a byte differs).
  std::int32_t BackupFirmware();
  std::int32_t VerifyImage();
  // The versions command's check: the firmware area read back through the same reader and
  // compared with its own header (length and sum); the verdict goes into the job.
  std::int32_t CheckFirmware();
  // The version inquiries return 0 when they found and read their block, -1 when there is
  // none, -2 when a read went unanswered.
  std::int32_t ReadBootVersion();
  std::int32_t ReadFirmwareVersion();

 protected:
  void Execute() override;

 private:
  void RunCommands();
  void Prepare();
  std::int32_t ReadVersions();
  void ProgramCommand();
  // A stage whose wait was cut short by a stop: its line says why; the stage's failure code.
  std::int32_t Interrupted(std::int32_t code);
  // How a stage goes on after a wait on the link: nothing when the answer arrived; otherwise
  // the code the stage returns, a stop's line or the time-out's status (when given) shown.
  std::optional<std::int32_t> Unanswered(TLinkWait wait, std::int32_t code,
                                         const std::string& timedOutStatus = {});
  bool StopSeen() const { return Terminated() || job_->StopRequested(); }
  void OnPortLost(TPortIO*);

  // The version inquiry's search (VersionInquiry.cpp).
  TVersionInfo& BeginInquiry(const std::string& stage, TVersionInfo& info);
  std::int32_t FindSignature(std::uint32_t base, std::int32_t offset, const std::string& signature);
  TLinkWait ReadAndShift(std::uint32_t address);
  // Reads length bytes of the receiver's memory from address, 128 at a time, showing the stage's
  // percentage as it goes.
  TLinkWait ReadRange(std::uint32_t address, std::size_t length, std::vector<std::uint8_t>& out);
  // The firmware in the receiver as its 8-byte header announces it.
  struct TFirmwareRead {
    TLinkWait Wait = TLinkWait::Arrived;
    bool Present = false;     // the header announces a plausible length
    bool SumMatches = false;  // the file's bytes add up to the header's sum
    std::vector<std::uint8_t> File;
  };
  TFirmwareRead ReadFirmware();

  TPortIO& Port() { return session_->Port(); }

  std::shared_ptr<TJob> job_;
  std::shared_ptr<TNavReceiver> session_;
  std::shared_ptr<TJobView> view_;
  TBootloaderLink link_;
  std::uint8_t searchWindow_[2 * BlockSize] = {};
  std::atomic<bool> residentLoaded_{false};
  std::atomic<bool> residentMayRun_{false};
  std::atomic<bool> cutShort_{false};  // a stop ended a command before its end
  std::atomic<bool> released_{false};
};
