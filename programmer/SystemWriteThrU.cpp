#include "programmer/SystemWriteThrU.h"

#include <stdexcept>

#include "appdata/Language.h"
#include "platform/TimeStamp.h"

TSystemWriteThr::TSystemWriteThr(std::shared_ptr<TJob> job, std::shared_ptr<TNavReceiver> session,
                                 std::shared_ptr<TJobView> view)
    : job_(std::move(job)), session_(std::move(session)), view_(std::move(view)), link_(*job_) {}

void TSystemWriteThr::SetWriteMode(std::int32_t mode) {
  job_->WriteMode = mode;
  Resume();
}

void TSystemWriteThr::Stop() {
  Terminate();
  job_->RequestStop(TStopReason::Requested);
  Resume();  // a thread waiting for a command sees the request
}

void TSystemWriteThr::StageLine(const std::string& text, const std::string& status) {
  if (!text.empty()) job_->ProgressInfo.Text = "  " + text;
  job_->ProgressInfo.Status = status;
  view_->ShowProgress(*job_);
}

void TSystemWriteThr::PlainLine(const std::string& text, const std::string& status) {
  if (!text.empty()) job_->ProgressInfo.Text = text;
  job_->ProgressInfo.Status = status;
  view_->ShowProgress(*job_);
}

std::int32_t TSystemWriteThr::Interrupted(std::int32_t code) {
  cutShort_ = true;
  if (job_->StopReason() == TStopReason::PortLost)
    StageLine("", Tr("ошибка: порт потерян", "Error: the port was lost"));
  else
    StageLine("", Tr("остановлено", "stopped"));
  return code;
}

std::optional<std::int32_t> TSystemWriteThr::Unanswered(TLinkWait wait, std::int32_t code,
                                                        const std::string& timedOutStatus) {
  switch (wait) {
    case TLinkWait::Arrived:
      return std::nullopt;
    case TLinkWait::Stopped:
      return Interrupted(code);
    case TLinkWait::TimedOut:
      break;
  }
  if (!timedOutStatus.empty()) StageLine("", timedOutStatus);
  return code;
}

void TSystemWriteThr::OnPortLost(TPortIO*) {
  job_->RequestStop(TStopReason::PortLost);
}

void TSystemWriteThr::Execute() {
  job_->WriteResult = ResultNothing;
  residentLoaded_ = false;
  Port().OnLost.Bind<&TSystemWriteThr::OnPortLost>(this);
  if (Port().Lost()) job_->RequestStop(TStopReason::PortLost);
  try {
    RunCommands();
  } catch (const std::exception& failure) {
    // An unexpected failure ends the job; the final steps still run.
    StageLine("", std::string(Tr("ошибка: ", "Error: ")) + failure.what());
  }
  // The receiver never stays in the resident: it is sent the restart on every way out, unless
  // the port that would carry it is gone.
  const bool owed = residentLoaded_ || (residentMayRun_ && job_->StopRequested());
  if (owed && !Port().Lost()) RestartSystem();
  link_.Detach();
  Port().OnLost.Clear();
  Port().Close();
  released_ = true;  // the front end may release the session without waiting for this thread
  if (!Terminated()) {
    if (job_->WriteResult == ResultSuccess)
      PlainLine(std::string(Tr("Выполнение завершено - ", "Execution is finished - ")) +
                    plat::TimeStamp(),
                "");
    else
      PlainLine(std::string(Tr("Ошибка при выполнении - ", "Error - ")) + plat::TimeStamp(), "");
    view_->WriteFinished(*job_);
  } else if (cutShort_) {
    PlainLine(
        std::string(Tr("Выполнение прервано - ", "Execution is stopped - ")) + plat::TimeStamp(),
        "");
  }
}

void TSystemWriteThr::RunCommands() {
  while (!Terminated()) {
    switch (job_->WriteMode.load()) {
      case ModePrepare:
        Prepare();
        if (job_->WriteResult != ResultSuccess || StopSeen()) return;
        break;
      case ModeVersions:
        if (!residentLoaded_) {
          Prepare();
          if (job_->WriteResult != ResultSuccess || StopSeen()) return;
        }
        job_->WriteResult = ReadVersions();
        if (job_->CheckFirmware && job_->WriteResult == ResultSuccess && !StopSeen())
          job_->WriteResult = CheckFirmware();
        view_->ShowVersions(*job_);
        if (Terminated()) return;  // the command was done: a quiet end
        break;
      default:
        ProgramCommand();
        return;
    }
    SuspendSelf();  // until the next command (or a termination request with a resume)
  }
}

void TSystemWriteThr::Prepare() {
  job_->WriteResult = ConnectBootloader();
  if (job_->WriteResult == ResultSuccess) {  // a stop now still lets the waiting image go out
    job_->WriteResult = UploadResident();
    if (job_->WriteResult == ResultSuccess) residentLoaded_ = true;
  }
  if (job_->WriteResult == ResultSuccess && StopSeen()) cutShort_ = true;
}

std::int32_t TSystemWriteThr::ReadVersions() {
  std::int32_t boot = ReadBootVersion();
  if (StopSeen()) return ResultNothing;
  std::int32_t firmware = ReadFirmwareVersion();
  if (job_->StopReason() == TStopReason::PortLost) return ResultNothing;  // read to no end
  return boot == 0 || firmware == 0 ? ResultSuccess : ResultNothing;
}

void TSystemWriteThr::ProgramCommand() {
  if (!residentLoaded_) {
    Prepare();
    if (job_->WriteResult != ResultSuccess || StopSeen()) return;
  }
  if (!job_->BackupDir.empty()) {
    job_->WriteResult = BackupFirmware();
    if (job_->WriteResult != ResultSuccess) return;
  }
  job_->WriteResult = EraseFlash();
  if (job_->WriteResult != ResultSuccess) return;
  job_->WriteResult = WriteSystem();
  if (job_->WriteResult != ResultSuccess && !StopSeen()) {
    if (!link_.Pause(RetryPauseMs)) {
      job_->WriteResult = Interrupted(ResultWrite);
      return;
    }
    PlainLine(Tr("Повторная попытка", "Repeated execution"), "");
    job_->WriteResult = EraseFlash();
    if (job_->WriteResult != ResultSuccess) return;
    job_->WriteResult = WriteSystem();
  }
  if (job_->WriteResult != ResultSuccess) return;
  if (job_->Verify && !StopSeen()) {
    job_->WriteResult = VerifyImage();
    if (job_->WriteResult != ResultSuccess) return;
  }
  if (StopSeen())
    cutShort_ = true;  // written, but the versions were not read back
  else
    ReadVersions();  // shows the versions now in the receiver
}
