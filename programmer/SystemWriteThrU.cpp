#include "programmer/SystemWriteThrU.h"

#include <stdexcept>
#include <thread>

#include "appdata/Language.h"
#include "platform/TimeStamp.h"

std::atomic<std::int32_t> WriteMode{ModePrepare};
std::atomic<std::int32_t> WriteResult{ResultNothing};
TReceiverVersions ReceiverVersions;
TProgressInfo ProgressInfo;
TSystemWriteThrRef SystemWriteThr;

namespace {
constexpr int RetryPauseMs = 1500;  // before a failed write is repeated
}

std::shared_ptr<TSystemWriteThr> TSystemWriteThrRef::Get() const {
  std::lock_guard<std::mutex> lock(lock_);
  return thread_;
}

void TSystemWriteThrRef::Set(std::shared_ptr<TSystemWriteThr> thread) {
  std::lock_guard<std::mutex> lock(lock_);
  thread_ = std::move(thread);
}

void TSystemWriteThrRef::ClearIf(const TSystemWriteThr* thread) {
  std::shared_ptr<TSystemWriteThr> released;  // let go outside the lock
  std::lock_guard<std::mutex> lock(lock_);
  if (thread_.get() == thread) released = std::move(thread_);
}

std::int32_t ComPortNumber(const std::string& name) {
  if (name.size() <= 3 || name.size() > 9) return 0;
  for (std::size_t i = 3; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return 0;
  return std::stoi(name.substr(3));
}

void SetWriteMode(std::int32_t mode) {
  WriteMode = mode;
  if (auto thread = SystemWriteThr.Get()) thread->Resume();
}

TSystemWriteThr::TSystemWriteThr(std::shared_ptr<TNavReceiver> session,
                                 std::shared_ptr<TJobView> view)
    : session_(std::move(session)), view_(std::move(view)) {}

void TSystemWriteThr::StageLine(const std::string& text, const std::string& status) {
  if (!text.empty()) ProgressInfo.Text = "  " + text;
  ProgressInfo.Status = status;
  view_->ShowProgress();
}

void TSystemWriteThr::PlainLine(const std::string& text, const std::string& status) {
  if (!text.empty()) ProgressInfo.Text = text;
  ProgressInfo.Status = status;
  view_->ShowProgress();
}

void TSystemWriteThr::Execute() {
  ReplyEvent.Reset();
  SetAck(0);
  WriteResult = ResultNothing;
  residentLoaded_ = false;
  try {
    RunCommands();
  } catch (const std::exception& failure) {
    // An unexpected failure ends the job; the final steps still run.
    StageLine("", std::string(Tr("ошибка: ", "Error: ")) + failure.what());
  }
  // The receiver never stays in the resident: it is sent the restart on every way out.
  if (residentLoaded_) RestartSystem();
  TPortIO& port = Port();
  port.OnData.Clear();
  port.OnAnswer.Clear();
  port.OnPacket.Clear();
  port.Close();
  SystemWriteThr.ClearIf(this);
  if (!Terminated()) {
    if (WriteResult == ResultSuccess)
      PlainLine(std::string(Tr("Выполнение завершено - ", "Execution is finished - ")) +
                    plat::TimeStamp(),
                "");
    else
      PlainLine(std::string(Tr("Ошибка при выполнении - ", "Error - ")) + plat::TimeStamp(), "");
    view_->WriteFinished();
  }
}

void TSystemWriteThr::RunCommands() {
  while (!Terminated()) {
    switch (WriteMode.load()) {
      case ModePrepare:
        Prepare();
        if (WriteResult != ResultSuccess || Terminated()) return;
        break;
      case ModeVersions:
        if (!residentLoaded_) {
          Prepare();
          if (WriteResult != ResultSuccess || Terminated()) return;
        }
        WriteResult = ReadVersions();
        view_->ShowVersions();
        if (Terminated()) return;
        break;
      default:
        ProgramCommand();
        return;
    }
    SuspendSelf();  // until the next command (or a termination request with a resume)
  }
}

void TSystemWriteThr::Prepare() {
  WriteResult = ConnectBootloader();
  if (WriteResult == ResultSuccess) {
    WriteResult = UploadResident();
    if (WriteResult == ResultSuccess) residentLoaded_ = true;
  }
}

std::int32_t TSystemWriteThr::ReadVersions() {
  std::int32_t boot = ReadBootVersion();
  std::int32_t firmware = ReadFirmwareVersion();
  return boot == 0 || firmware == 0 ? ResultSuccess : ResultNothing;
}

void TSystemWriteThr::ProgramCommand() {
  if (!residentLoaded_) {
    Prepare();
    if (WriteResult != ResultSuccess || Terminated()) return;
  }
  WriteResult = EraseFlash();
  if (WriteResult != ResultSuccess) return;
  WriteResult = WriteSystem();
  if (WriteResult != ResultSuccess) {
    std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMs));
    PlainLine(Tr("Повторная попытка", "Repeated execution"), "");
    WriteResult = EraseFlash();
    if (WriteResult != ResultSuccess) return;
    WriteResult = WriteSystem();
  }
  if (WriteResult == ResultSuccess) ReadVersions();  // shows the versions now in the receiver
}
