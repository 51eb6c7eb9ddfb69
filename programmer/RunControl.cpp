#include "programmer/RunControl.h"

#include <cerrno>
#include <mutex>

#include "appdata/MessageSink.h"
#include "platform/ComRegistry.h"
#include "platform/TimeStamp.h"
#include "programmer/BootloaderLink.h"
#include "receiver/NavReceiverExU.h"

// The thread's reports, carried onto the UI thread; after Close they reach nobody.
class TRunControl::TThreadView : public TJobView {
 public:
  TThreadView(TRunControlFront& front, std::weak_ptr<TRunControl> control)
      : front_(front), control_(std::move(control)) {}

  void Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    detached_ = true;
  }
  void ShowProgress(TJob& job) override {
    Call([this, &job] { front_.ShowProgress(job.ProgressInfo); });
  }
  void ShowVersions(TJob& job) override {
    Call([this, &job] {
      if (auto control = control_.lock()) control->ShowVersions(job);
    });
  }
  void WriteFinished(TJob& job) override {
    Call([this, &job] {
      if (auto control = control_.lock()) control->WriteFinished(job);
    });
  }

 private:
  bool Detached() {
    std::lock_guard<std::mutex> guard(lock_);
    return detached_;
  }
  void Call(const std::function<void()>& report) {
    if (Detached()) return;
    front_.Synchronize([&] {
      if (Detached()) return;
      auto control = control_.lock();
      if (control) ++control->reporting_;
      report();
      if (control) --control->reporting_;
    });
  }

  std::mutex lock_;
  bool detached_ = false;
  TRunControlFront& front_;
  std::weak_ptr<TRunControl> control_;
};

namespace {

// A message's text as lines (CR separates them in a box).
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (;;) {
    std::size_t end = text.find('\r', from);
    lines.push_back(text.substr(from, end - from));
    if (end == std::string::npos) return lines;
    from = end + 1;
  }
}

}  // namespace

std::string TJobOutcome::Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : "\r") + lines[i];
  return text;
}

const char* JobProtocolName(TJobProtocol protocol) {
  switch (protocol) {
    case TJobProtocol::Zorp:
      return "ZORP";
    case TJobProtocol::Nmea:
      return "NMEA";
    default:
      return "";
  }
}

std::uint8_t SessionProtocolCode(TJobProtocol protocol) {
  return protocol == TJobProtocol::Zorp ? ProtocolZorp : ProtocolNmea;
}

plat::TPortEntry ResolvePortName(const std::string& name) {
  plat::TPortEntry port;
  port.Name = name;
  port.Number = plat::PortNumberOf(name);
  if (port.Number > 0) port.Device = plat::DevicePathOf(port.Number);
  return port;
}

void TRunControlFront::JobEnded(const TJobOutcome& outcome) {
  if (!outcome.Notice.empty()) ShowMessage(TJobOutcome::Joined(outcome.Notice));
  if (!outcome.Lines.empty())
    ShowMessage(TJobOutcome::Joined(outcome.Lines),
                outcome.Information ? TMessageIcon::Information : TMessageIcon::None);
}

TRunControl::TRunControl(TDM& dm, TRunControlFront& front, std::shared_ptr<TJobEngine> engine)
    : dm_(dm), front_(front), engine_(std::move(engine)) {}

TRunControl::~TRunControl() {
  if (view_) view_->Detach();
}

std::shared_ptr<TJobThread> TRunControl::CurrentThread() const {
  return SystemWriteThr && !SystemWriteThr->Released() ? SystemWriteThr : nullptr;
}

bool TRunControl::ThreadRunning() const {
  return SystemWriteThr && SystemWriteThr->Started() && !SystemWriteThr->Finished();
}

void TRunControl::ShowLine(const std::string& text, const std::string& status) {
  front_.ShowProgress(TProgressInfo{text, status});
}

void TRunControl::ReleaseSession() {
  if (!NavReceiver) return;
  // The thread may keep the session alive a little longer: its notifications reach nobody.
  NavReceiver->Release(!SystemWriteThr);  // the port's loss is the thread's own once it runs
  NavReceiver.reset();
}

std::string TRunControl::PortLostText(const TJob& job) {
  std::string port = job.Port.Name;
  if (!job.Port.Device.empty() && job.Port.Device != port) port += " (" + job.Port.Device + ")";
  return IsRussian ? "Порт " + port + " потерян: проверьте кабель и адаптер."
                   : "The port " + port + " was lost: check the cable and the adapter.";
}

TJobOutcome TRunControl::Outcome(TJobEnd end) const {
  TJobOutcome outcome;
  outcome.End = end;
  outcome.Mode = jobMode_;
  return outcome;
}

TRunControl::TStart TRunControl::Refuse(TJobOutcome outcome) {
  front_.JobEnded(outcome);
  return TStart::Refused;
}

TRunControl::TStart TRunControl::StartJob(const TJobRequest& request) {
  if (auto parked = CurrentThread()) {
    // A parked thread takes the command with its bootloader link. The job runs again, so the
    // close guard asks and "Save As..." waits until it ends.
    front_.EnableControls(false, false);
    jobRunning_ = true;
    jobMode_ = request.Mode;
    parked->SetWriteMode(request.Mode);
    return TStart::HandedToThread;
  }
  jobMode_ = request.Mode;
  auto refuse = [this](TJobEnd end, const char* russian, const char* english) {
    TJobOutcome outcome = Outcome(end);
    outcome.Lines = {Tr(russian, english)};
    return outcome;
  };
  if (request.Port.Name.empty())
    return Refuse(
        refuse(TJobEnd::InputMissing, "Необходимо указать СОМ порт!", "COM port value is empty!"));
  if (request.Protocol == TJobProtocol::None)
    return Refuse(
        refuse(TJobEnd::InputMissing, "Необходимо указать протокол!", "Protocol value is empty!"));
  if (request.Rate <= 0)
    return Refuse(
        refuse(TJobEnd::InputMissing, "Необходимо указать скорость!", "Baud rate value is empty!"));
  const TImagesLoad load = request.Images
                               ? *request.Images
                               : dm_.LoadImages(request.SystemFile, request.RequireSystemFile);
  if (!load.ResidentFound)
    return Refuse(
        refuse(TJobEnd::ResidentMissing, "Ошибка чтения резидента!", "Error at resident reading!"));
  if (!load.PathGiven)
    return Refuse(refuse(TJobEnd::InputMissing, "Необходимо указать файл системы!",
                         "Incorrect system file path!"));
  if (!load.Images) {
    TJobOutcome outcome = refuse(TJobEnd::FileRefused, "Ошибка чтения файла системы !",
                                 "Error at system file reading!");
    outcome.FileLoad = load.SystemFile;
    if (!load.Refusal.empty()) outcome.Notice = LinesOf(load.Refusal);
    return Refuse(outcome);
  }
  request_ = request;
  front_.ClearLog();

  ReleaseSession();
  job_ = std::make_shared<TJob>(load.Images);
  job_->Port = request.Port;
  job_->Rate = request.Rate;
  job_->Protocol = SessionProtocolCode(request.Protocol);
  job_->ResetAuto = request.Reset == TResetMethod::Auto;
  job_->Verify = request.Verify;
  job_->BackupDir = request.BackupDir;
  job_->BackupLabel = request.BackupLabel;
  job_->CheckFirmware = request.CheckFirmware;
  SystemWriteThr.reset();
  NavReceiver = engine_->MakeSession(SessionTimeoutMs);
  const std::string started =
      std::string(Tr("Начало выполнения - ", "Execution is started - ")) + plat::TimeStamp();

  int error = ENOENT;      // a name without a port number: no such port
  if (!job_->ResetAuto) {  // "Manual": the operator power-cycles the receiver
    // The port opens at the bootloader's rate before the operator is asked to do anything.
    if (job_->Port.Number <= 0 || !NavReceiver->OpenRaw(job_->Port, BootRate, error))
      return RefuseUnopenedPort(error);
    ShowLine(started, "");
    ShowLine(Tr("  Выключите и включите приемник сейчас", "  Switch the receiver off and on now"),
             "");
    CreateThread();
    SystemWriteThr->SetWriteMode(jobMode_);
    jobRunning_ = true;
    front_.EnableControls(false, false);
    front_.FocusLog();
    return TStart::Started;
  }

  // The session's notifications come on its threads: each becomes a window message.
  std::weak_ptr<TRunControl> self = weak_from_this();
  auto post = [this, self](int message, void (TRunControl::*handler)()) {
    return [this, self, message, handler] {
      front_.Post(message, [self, handler] {
        if (auto control = self.lock()) (control.get()->*handler)();
      });
    };
  };
  NavReceiver->OnNoAnswer = post(WM_RECEIVER_NO_ANSWER, &TRunControl::ReceiverNoAnswer);
  NavReceiver->OnConnected = post(WM_RECEIVER_CONNECTED, &TRunControl::ReceiverConnected);
  NavReceiver->OnLost = post(WM_RECEIVER_LOST, &TRunControl::ReceiverLost);
  if (job_->Port.Number <= 0 ||
      !NavReceiver->Connect(job_->Port, job_->Rate, job_->Protocol, error))
    return RefuseUnopenedPort(error);
  polling_ = true;
  ShowLine(started, "");
  const std::string protocol = JobProtocolName(request.Protocol);
  job_->ProgressInfo = TProgressInfo{
      IsRussian ? "  Подключение по протоколу " + protocol : "  " + protocol + " connecting", ""};
  front_.ShowProgress(job_->ProgressInfo);
  front_.EnableControls(false, false);
  front_.FocusLog();
  return TStart::Started;
}

TRunControl::TStart TRunControl::RefuseUnopenedPort(int error) {
  ReleaseSession();
  TJobOutcome outcome = Outcome(TJobEnd::PortNotOpened);
  outcome.OpenError = error;
  outcome.Lines = {std::string(Tr("Ошибка открытия ", "Could not open ")) + request_.Port.Name +
                   "!"};
  return Refuse(outcome);
}

void TRunControl::CreateThread() {
  if (view_) view_->Detach();
  view_ = std::make_shared<TThreadView>(front_, weak_from_this());
  SystemWriteThr = engine_->MakeThread(job_, NavReceiver, view_);
}

void TRunControl::ReceiverConnected() {
  // A repeated report never creates a second thread, and a report after the session's "no
  // answer" (or a stop) starts nothing.
  if (jobRunning_ || !NavReceiver || !polling_) return;
  polling_ = false;
  job_->ProgressInfo.Status = Tr("выполнено", "done");
  front_.ShowProgress(job_->ProgressInfo);
  CreateThread();
  SystemWriteThr->SetWriteMode(jobMode_);
  jobRunning_ = true;
}

void TRunControl::ReceiverNoAnswer() {
  if (jobRunning_ || !NavReceiver || !polling_) return;
  front_.EnableControls(true, true);
  job_->ProgressInfo.Status = Tr("ошибка (нет ответа)", "not answer");
  front_.ShowProgress(job_->ProgressInfo);
  jobRunning_ = false;
  polling_ = false;
  TJobOutcome outcome = Outcome(TJobEnd::NoAnswer);
  outcome.Lines = {Tr("Приемник не отвечает!", "Receiver not answer!")};
  front_.JobEnded(outcome);
}

void TRunControl::ReceiverLost() {
  if (jobRunning_ || !NavReceiver || !polling_) return;
  polling_ = false;
  job_->RequestStop(TStopReason::PortLost);
  job_->ProgressInfo.Status = Tr("ошибка: порт потерян", "Error: the port was lost");
  front_.ShowProgress(job_->ProgressInfo);
  ReleaseSession();
  front_.EnableControls(true, true);
  TJobOutcome outcome = Outcome(TJobEnd::Stopped);
  outcome.Stop = TStopReason::PortLost;
  outcome.Lines = {PortLostText(*job_)};
  front_.JobEnded(outcome);
}

std::string TRunControl::VersionsText(const TReceiverVersions& versions,
                                      const std::string& separator) {
  const TVersionInfo& firmware = versions.Firmware;
  const TVersionInfo& boot = versions.Boot;
  std::string text;
  if (!firmware.Number.empty())
    text = "Firmware version: " + firmware.Number + " (" + firmware.Date + ")";
  if (!boot.Number.empty()) {
    if (!text.empty()) text += separator;
    text += "Bootloader version: " + boot.Number + " (" + boot.Date + ")";
  }
  return text;
}

TJobOutcome TRunControl::ThreadOutcome(const TJob& job) const {
  TJobOutcome outcome = Outcome(TJobEnd::StageFailed);
  outcome.ReachedThread = true;
  outcome.Result = job.WriteResult;
  outcome.Stop = job.StopReason();
  if (outcome.Result == ResultSuccess)
    outcome.End = TJobEnd::Success;
  else if (outcome.Stop != TStopReason::None)
    outcome.End = TJobEnd::Stopped;
  if (outcome.End != TJobEnd::Success) {
    outcome.Lines = LinesOf(dm_.ResultText(outcome.Result));
    if (outcome.Stop == TStopReason::PortLost) outcome.Lines.push_back(PortLostText(job));
  }
  return outcome;
}

void TRunControl::ShowVersions(TJob& job) {
  front_.EnableControls(false, true);
  front_.SelectLastLine();
  jobRunning_ = false;
  TJobOutcome outcome = ThreadOutcome(job);
  if (job.WriteResult != ResultSuccess) {
    StopWriteThread();
  } else {
    std::string text = VersionsText(job.ReceiverVersions, "\r\r");
    outcome.Lines = LinesOf(text.empty() ? "No data" : text);
    outcome.Information = true;
  }
  front_.JobEnded(outcome);
  if (job.WriteResult == ResultSuccess)
    front_.FocusProgButton();  // parked: the thread keeps its bootloader link
}

void TRunControl::WriteFinished(TJob& job) {
  TJobOutcome outcome = ThreadOutcome(job);  // before our own stop below adds its reason
  front_.EnableControls(true, true);
  StopWriteThread();
  front_.SelectLastLine();
  if (job.WriteResult == ResultSuccess) {
    outcome.Lines =
        LinesOf(dm_.ResultText(ResultSuccess) + "\r\r" + VersionsText(job.ReceiverVersions, "\r"));
    outcome.Information = true;
  }
  front_.JobEnded(outcome);
  front_.FocusProgButton();
}
void TRunControl::RequestStop() {
  if (auto thread = CurrentThread()) {
    thread->Stop();
  } else if (polling_) {
    // Stopped while the session was still looking for the receiver: no thread will report.
    polling_ = false;
    job_->RequestStop(TStopReason::Requested);
    ShowLine(
        std::string(Tr("Выполнение прервано - ", "Execution is stopped - ")) + plat::TimeStamp(),
        "");
  }
  ReleaseSession();
  front_.EnableControls(true, true);
  jobRunning_ = false;
}

void TRunControl::StopWriteThread() {
  RequestStop();
  // Inside a report the thread waits for this call to return: it ends on its own afterwards.
  if (reporting_ > 0 || !SystemWriteThr) return;
  auto thread = SystemWriteThr;
  front_.RunCallsUntil([thread] { return !thread->Started() || thread->Finished(); });
}

bool TRunControl::CloseQuery(const std::function<bool()>& confirmStop) {
  if (jobRunning_ && !confirmStop()) return false;
  StopWriteThread();
  return true;
}

void TRunControl::Close() {
  StopWriteThread();
  if (view_) view_->Detach();
  ReleaseSession();
}
