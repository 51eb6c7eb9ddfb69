#include "programmer/RunControl.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "appdata/FileCheck.h"
#include "appdata/MessageSink.h"
#include "platform/ComRegistry.h"
#include "platform/TimeStamp.h"

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

void Show(const std::string& text, TMessageIcon icon = TMessageIcon::None) {
  ShowMessage(text, icon);
}

}  // namespace

TRunControl::TRunControl(TDM& dm, TRunControlFront& front, bool persistSettings)
    : dm_(dm), front_(front), persistSettings_(persistSettings) {}

TRunControl::~TRunControl() {
  if (view_) view_->Detach();
}

std::shared_ptr<TSystemWriteThr> TRunControl::CurrentThread() const {
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
  NavReceiver->OnConnected.Clear();
  NavReceiver->OnNoAnswer.Clear();
  if (!SystemWriteThr) NavReceiver->Port().OnLost.Clear();  // else the thread's own
  NavReceiver.reset();
}

void TRunControl::PostConnected(TNavReceiver*) {
  std::weak_ptr<TRunControl> self = weak_from_this();
  front_.Post(WM_RECEIVER_CONNECTED, [self] {
    if (auto control = self.lock()) control->ReceiverConnected();
  });
}

void TRunControl::PostNoAnswer(TNavReceiver*) {
  std::weak_ptr<TRunControl> self = weak_from_this();
  front_.Post(WM_RECEIVER_NO_ANSWER, [self] {
    if (auto control = self.lock()) control->ReceiverNoAnswer();
  });
}

void TRunControl::PostLost(TPortIO*) {
  std::weak_ptr<TRunControl> self = weak_from_this();
  front_.Post(WM_RECEIVER_LOST, [self] {
    if (auto control = self.lock()) control->ReceiverLost();
  });
}

std::string TRunControl::PortLostText(const TJob& job) {
  std::string port = job.Port.Name;
  if (!job.Port.Device.empty() && job.Port.Device != port) port += " (" + job.Port.Device + ")";
  return IsRussian ? "Порт " + port + " потерян: проверьте кабель и адаптер."
                   : "The port " + port + " was lost: check the cable and the adapter.";
}

void TRunControl::SaveChangedInputs(const TJobInputs& inputs, const std::string& previousFile) {
  bool changed = inputs.Port != Sets.ComPort || inputs.Rate != Sets.ComRate ||
                 inputs.Protocol != Sets.Protocol || inputs.SystemFile != previousFile ||
                 inputs.ResetIndex != Sets.ResetType;
  if (!changed) return;
  Sets.ComPort = inputs.Port;
  Sets.ComRate = inputs.Rate;
  Sets.Protocol = inputs.Protocol;
  Sets.SystemFile = inputs.SystemFile;
  Sets.ResetType = inputs.ResetIndex;
  dm_.SaveSettings();
}

std::shared_ptr<TJob> TRunControl::MakeJob(const TJobInputs& inputs) const {
  auto job = std::make_shared<TJob>();
  // The port is resolved once, here: the number the name holds and the device behind it.
  job->Port.Name = inputs.Port;
  job->Port.Number = plat::PortNumberOf(inputs.Port);
  if (job->Port.Number > 0) job->Port.Device = plat::DevicePathOf(job->Port.Number);
  job->Rate = static_cast<std::int32_t>(std::strtol(inputs.Rate.c_str(), nullptr, 10));
  job->Protocol = inputs.ProtocolIndex == 0 ? ProtocolZorp : ProtocolNmea;
  job->ResetAuto = inputs.ResetIndex == 0;
  if (inputs.SystemFileBytes) {
    job->Images.SystemImage = SystemImageOfFile(*inputs.SystemFileBytes);
    job->Images.SystemImageSum =
        ByteSum(job->Images.SystemImage.data(), job->Images.SystemImage.size());
  } else {
    job->Images.SystemImage = SystemImage;
    job->Images.SystemImageSum = SystemImageSum;
  }
  job->Images.ResidentImage = ResidentImage;
  job->Images.ResidentSize = ResidentSize;
  job->Images.ResidentSum = ResidentSum;
  return job;
}

TRunControl::TStart TRunControl::StartJob(std::int32_t mode, const TJobInputs& inputs) {
  if (auto parked = CurrentThread()) {
    // A parked thread takes the command with its bootloader link. The job runs again, so the
    // close guard asks and "Save As..." waits until it ends.
    front_.EnableControls(false, false);
    jobRunning_ = true;
    parked->SetWriteMode(mode);
    return TStart::HandedToThread;
  }
  if (inputs.Port.empty()) {
    Show(Tr("Необходимо указать СОМ порт!", "COM port value is empty!"));
    return TStart::InputMissing;
  }
  if (inputs.Protocol.empty()) {
    Show(Tr("Необходимо указать протокол!", "Protocol value is empty!"));
    return TStart::InputMissing;
  }
  if (inputs.Rate.empty()) {
    Show(Tr("Необходимо указать скорость!", "Baud rate value is empty!"));
    return TStart::InputMissing;
  }
  if (!dm_.LoadResident()) {
    Show(Tr("Ошибка чтения резидента!", "Error at resident reading!"));
    return TStart::ResidentMissing;
  }
  const std::string previousFile = Sets.SystemFile;
  if (inputs.RequireSystemFile) {
    if (inputs.SystemFile.empty()) {
      Show(Tr("Необходимо указать файл системы!", "Incorrect system file path!"));
      return TStart::InputMissing;
    }
    if (persistSettings_) Sets.SystemFile = inputs.SystemFile;
    if (!inputs.SystemFileBytes && !dm_.LoadSystemFile(inputs.SystemFile)) {
      Show(Tr("Ошибка чтения файла системы !", "Error at system file reading!"));
      return TStart::SystemFileUnreadable;
    }
  }
  jobMode_ = mode;
  if (persistSettings_) SaveChangedInputs(inputs, previousFile);
  front_.ClearLog();

  ReleaseSession();
  job_ = MakeJob(inputs);
  if (ConfigureJob) ConfigureJob(*job_);
  SystemWriteThr.reset();
  NavReceiver = std::make_shared<TNavReceiver>();
  NavReceiver->SetTimeout(SessionTimeoutMs);
  const std::string started =
      std::string(Tr("Начало выполнения - ", "Execution is started - ")) + plat::TimeStamp();

  if (!job_->ResetAuto) {  // "Manual": the operator power-cycles the receiver
    // The port opens at the bootloader's rate before the operator is asked to do anything.
    if (job_->Port.Number <= 0 || !NavReceiver->OpenRaw(job_->Port, BootRate))
      return RefuseUnopenedPort(inputs.Port);
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

  NavReceiver->OnNoAnswer.Bind<&TRunControl::PostNoAnswer>(this);
  NavReceiver->OnConnected.Bind<&TRunControl::PostConnected>(this);
  NavReceiver->Port().OnLost.Bind<&TRunControl::PostLost>(this);  // the thread takes it over
  if (job_->Port.Number > 0) NavReceiver->Connect(job_->Port, job_->Rate, job_->Protocol);
  if (job_->Port.Number <= 0 || !NavReceiver->Opened()) return RefuseUnopenedPort(inputs.Port);
  polling_ = true;
  ShowLine(started, "");
  job_->ProgressInfo = TProgressInfo{IsRussian ? "  Подключение по протоколу " + inputs.Protocol
                                               : "  " + inputs.Protocol + " connecting",
                                     ""};
  front_.ShowProgress(job_->ProgressInfo);
  front_.EnableControls(false, false);
  front_.FocusLog();
  return TStart::Started;
}

TRunControl::TStart TRunControl::RefuseUnopenedPort(const std::string& port) {
  lastOpenError_ = job_->Port.Number <= 0 ? ENOENT : NavReceiver->Port().LastOpenError();
  ReleaseSession();
  std::string message = std::string(Tr("Ошибка открытия ", "Could not open ")) + port + "!";
  if (OpenFailureReason) message += "\r" + OpenFailureReason(lastOpenError_);
  Show(message);
  return TStart::PortNotOpened;
}

void TRunControl::CreateThread() {
  if (view_) view_->Detach();
  view_ = std::make_shared<TThreadView>(front_, weak_from_this());
  SystemWriteThr = std::make_shared<TSystemWriteThr>(job_, NavReceiver, view_);
}

void TRunControl::ReceiverConnected() {
  if (jobRunning_ || !NavReceiver) return;  // a repeated report never creates a second thread
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
  Show(Tr("Приемник не отвечает!", "Receiver not answer!"));
  if (OnNoAnswer) OnNoAnswer();
  if (OnFinished) OnFinished();
}

void TRunControl::ReceiverLost() {
  if (jobRunning_ || !NavReceiver || !polling_) return;
  polling_ = false;
  job_->RequestStop(TStopReason::PortLost);
  job_->ProgressInfo.Status = Tr("ошибка: порт потерян", "Error: the port was lost");
  front_.ShowProgress(job_->ProgressInfo);
  ReleaseSession();
  front_.EnableControls(true, true);
  Show(PortLostText(*job_));
  if (OnFinished) OnFinished();
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

void TRunControl::ShowVersions(TJob& job) {
  front_.EnableControls(false, true);
  front_.SelectLastLine();
  jobRunning_ = false;
  if (job.WriteResult != ResultSuccess) {
    StopWriteThread();
    if (job.StopReason() == TStopReason::PortLost)
      Show(dm_.ResultText(job.WriteResult) + "\r" + PortLostText(job));
    else
      Show(dm_.ResultText(job.WriteResult));
  } else {
    std::string text = VersionsText(job.ReceiverVersions, "\r\r");
    Show(text.empty() ? "No data" : text, TMessageIcon::Information);
    front_.FocusProgButton();  // parked: the thread keeps its bootloader link
  }
  if (OnVersions) OnVersions();
}

void TRunControl::WriteFinished(TJob& job) {
  front_.EnableControls(true, true);
  StopWriteThread();
  front_.SelectLastLine();
  if (job.WriteResult == ResultSuccess)
    Show(dm_.ResultText(ResultSuccess) + "\r\r" + VersionsText(job.ReceiverVersions, "\r"),
         TMessageIcon::Information);
  else if (job.StopReason() == TStopReason::PortLost)
    Show(dm_.ResultText(job.WriteResult) + "\r" + PortLostText(job));
  else
    Show(dm_.ResultText(job.WriteResult));
  front_.FocusProgButton();
  if (OnFinished) OnFinished();
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

bool TRunControl::CloseQuery() {
  if (jobRunning_) {
    TMessage question;
    question.Caption = Tr("Внимание", "Warning");
    question.Text = IsRussian
                        ? "Выполняется программирование! В случае остановки процесса\r"
                          "программное обеспечение навигационного приемника будет испорчено!\r"
                          "Вы действительно хотите прервать процесс ?"
                        : "Execution in process! If you stop execution,\r"
                          "the software of the navigating receiver will be spoilt!\r"
                          "Stop execution?";
    question.Icon = TMessageIcon::Warning;
    question.Buttons = TMessageButtons::YesNo;
    question.Default = TMessageAnswer::No;
    if (ShowMessage(question) != TMessageAnswer::Yes) return false;
  }
  StopWriteThread();
  return true;
}

void TRunControl::Close() {
  StopWriteThread();
  if (view_) view_->Detach();
  ReleaseSession();
}
