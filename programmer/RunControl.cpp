#include "programmer/RunControl.h"

#include <cstdlib>
#include <mutex>

#include "appdata/MessageSink.h"
#include "platform/TimeStamp.h"

std::shared_ptr<TNavReceiver> NavReceiver;

// The thread's reports, carried onto the UI thread; after Close they reach nobody.
class TRunControl::TThreadView : public TJobView {
 public:
  TThreadView(TRunControlFront& front, std::weak_ptr<TRunControl> control)
      : front_(front), control_(std::move(control)) {}

  void Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    detached_ = true;
  }
  void ShowProgress() override {
    Call([this] { front_.ShowProgress(); });
  }
  void ShowVersions() override {
    Call([this] {
      if (auto control = control_.lock()) control->ShowVersions();
    });
  }
  void WriteFinished() override {
    Call([this] {
      if (auto control = control_.lock()) control->WriteFinished();
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
      if (!Detached()) report();
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

void TRunControl::ReleaseSession() {
  if (!NavReceiver) return;
  // The thread may keep the session alive a little longer: its notifications reach nobody.
  NavReceiver->OnConnected.Clear();
  NavReceiver->OnNoAnswer.Clear();
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
  if (persistSettings_) dm_.SaveSettings();
}

TRunControl::TStart TRunControl::StartJob(std::int32_t mode, const TJobInputs& inputs) {
  if (SystemWriteThr) {
    // A parked thread takes the command with its bootloader link. The job runs again, so the
    // close guard asks and "Save As..." waits until it ends.
    front_.EnableControls(false, false);
    jobRunning_ = true;
    SetWriteMode(mode);
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
    Sets.SystemFile = inputs.SystemFile;
    if (!dm_.LoadSystemFile(Sets.SystemFile)) {
      Show(Tr("Ошибка чтения файла системы !", "Error at system file reading!"));
      return TStart::SystemFileUnreadable;
    }
  }
  jobMode_ = mode;
  SaveChangedInputs(inputs, previousFile);
  front_.ClearLog();

  ReleaseSession();
  NavReceiver = std::make_shared<TNavReceiver>();
  NavReceiver->SetTimeout(SessionTimeoutMs);
  const std::string started =
      std::string(Tr("Начало выполнения - ", "Execution is started - ")) + plat::TimeStamp();

  if (Sets.ResetType != 0) {  // "Manual": the operator power-cycles the receiver
    ProgressInfo = TProgressInfo{started, ""};
    front_.ShowProgress();
    ProgressInfo = TProgressInfo{
        Tr("  Выключите и включите приемник сейчас", "  Switch the receiver off and on now"), ""};
    front_.ShowProgress();
    CreateThread();
    SetWriteMode(jobMode_);
    jobRunning_ = true;
    front_.EnableControls(false, false);
    front_.FocusLog();
    return TStart::Started;
  }

  NavReceiver->OnNoAnswer.Bind<&TRunControl::PostNoAnswer>(this);
  NavReceiver->OnConnected.Bind<&TRunControl::PostConnected>(this);
  const std::int32_t port = ComPortNumber(Sets.ComPort);
  const std::int32_t rate =
      static_cast<std::int32_t>(std::strtol(Sets.ComRate.c_str(), nullptr, 10));
  if (port > 0)
    NavReceiver->Connect(port, rate, inputs.ProtocolIndex == 0 ? ProtocolZorp : ProtocolNmea);
  if (port <= 0 || !NavReceiver->Opened()) {
    lastOpenError_ = port <= 0 ? ENOENT : NavReceiver->Port().LastOpenError();
    ReleaseSession();
    std::string message =
        std::string(Tr("Ошибка открытия ", "Could not open ")) + Sets.ComPort + "!";
    if (OpenFailureReason) message += "\r" + OpenFailureReason(lastOpenError_);
    Show(message);
    return TStart::PortNotOpened;
  }
  ProgressInfo = TProgressInfo{started, ""};
  front_.ShowProgress();
  ProgressInfo = TProgressInfo{IsRussian ? "  Подключение по протоколу " + Sets.Protocol
                                         : "  " + Sets.Protocol + " connecting",
                               ""};
  front_.ShowProgress();
  front_.EnableControls(false, false);
  front_.FocusLog();
  return TStart::Started;
}

void TRunControl::CreateThread() {
  if (view_) view_->Detach();
  view_ = std::make_shared<TThreadView>(front_, weak_from_this());
  auto thread = std::make_shared<TSystemWriteThr>(NavReceiver, view_);
  SystemWriteThr.Set(thread);
  lastThread_ = thread;
}

void TRunControl::ReceiverConnected() {
  if (jobRunning_ || !NavReceiver) return;  // a repeated report never creates a second thread
  ProgressInfo.Status = Tr("выполнено", "done");
  front_.ShowProgress();
  CreateThread();
  SetWriteMode(jobMode_);
  jobRunning_ = true;
}

void TRunControl::ReceiverNoAnswer() {
  if (jobRunning_ || !NavReceiver) return;
  front_.EnableControls(true, true);
  ProgressInfo.Status = Tr("ошибка (нет ответа)", "not answer");
  front_.ShowProgress();
  jobRunning_ = false;
  Show(Tr("Приемник не отвечает!", "Receiver not answer!"));
  if (OnNoAnswer) OnNoAnswer();
  if (OnFinished) OnFinished();
}

std::string TRunControl::VersionsText(const std::string& separator) {
  const TVersionInfo& firmware = ReceiverVersions.Firmware;
  const TVersionInfo& boot = ReceiverVersions.Boot;
  std::string text;
  if (!firmware.Number.empty())
    text = "Firmware version: " + firmware.Number + " (" + firmware.Date + ")";
  if (!boot.Number.empty()) {
    if (!text.empty()) text += separator;
    text += "Bootloader version: " + boot.Number + " (" + boot.Date + ")";
  }
  return text;
}

void TRunControl::ShowVersions() {
  front_.EnableControls(false, true);
  front_.SelectLastLine();
  jobRunning_ = false;
  if (WriteResult != ResultSuccess) {
    StopWriteThread();
    Show(dm_.ResultText(WriteResult));
  } else {
    std::string text = VersionsText("\r\r");
    Show(text.empty() ? "No data" : text, TMessageIcon::Information);
    front_.FocusProgButton();  // parked: the thread keeps its bootloader link
  }
  if (OnVersions) OnVersions();
}

void TRunControl::WriteFinished() {
  front_.EnableControls(true, true);
  StopWriteThread();
  front_.SelectLastLine();
  if (WriteResult == ResultSuccess)
    Show(dm_.ResultText(ResultSuccess) + "\r\r" + VersionsText("\r"), TMessageIcon::Information);
  else
    Show(dm_.ResultText(WriteResult));
  front_.FocusProgButton();
  if (OnFinished) OnFinished();
}

void TRunControl::StopWriteThread() {
  if (auto thread = SystemWriteThr.Get()) {
    thread->Terminate();
    thread->Resume();  // a parked thread sees the request
    thread->WaitFor(StopWaitMs);
  }
  ReleaseSession();
  front_.EnableControls(true, true);
  jobRunning_ = false;
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
  if (view_) view_->Detach();
  ReleaseSession();
}
