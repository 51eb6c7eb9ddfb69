#include "ui/model/MainModel.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "appdata/Cp1251.h"
#include "appdata/FileCheck.h"
#include "appdata/MessageSink.h"
#include "platform/ComRegistry.h"
#include "platform/CrashReport.h"
#include "platform/ExecutablePath.h"
#include "platform/OpenFailure.h"
#include "platform/VersionInfo.h"
#include "programmer/DiagnosisTexts.h"
#include "receiver/NavReceiverExU.h"
#include "transport/PortList.h"

namespace {

const TMainCaptions EnglishCaptions = {
    "ZV-8810 Firmware Updater",
    "COM port",
    "Reset",
    "Baud Rate",
    "Protocol",
    "System file",
    "Auto",
    "Manual",
    "Programming",
    "Versions Info",
    "Wait please",
    "Save As...",
    "About",
    "...",
};
const TMainCaptions RussianCaptions = {
    "ZV-8810 Firmware Updater",
    "COM порт",
    "Перезапуск",
    "Скорость",
    "Протокол",
    "Файл системы",
    "Программный",
    "Аппаратный",
    "Запрограммировать",
    "Запрос версий",
    "Wait please",
    "Save As...",
    "О программе",
    "...",
};

const TAboutCaptions EnglishAbout = {"About", "Version:", "Language:", "ОК"};
const TAboutCaptions RussianAbout = {"О программе", "Версия:", "Language:", "ОК"};

int RateIndex(std::int32_t rate) {
  for (std::size_t i = 0; i < std::size(OfferedRates); ++i)
    if (OfferedRates[i] == rate) return static_cast<int>(i);
  return -1;
}

int RateIndexOfText(const std::string& text) {
  for (std::size_t i = 0; i < std::size(OfferedRates); ++i)
    if (std::to_string(OfferedRates[i]) == text) return static_cast<int>(i);
  return -1;
}

int ProtocolIndexOfText(const std::string& text) {
  for (std::size_t i = 0; i < std::size(ProtocolItems); ++i)
    if (text == ProtocolItems[i]) return static_cast<int>(i);
  return -1;
}

std::string FileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

const TMainCaptions& MainCaptions(bool russian) {
  return russian ? RussianCaptions : EnglishCaptions;
}

const char* LogoResource(bool russian) {
  return russian ? "LogoRus" : "LogoEng";
}

const TAboutCaptions& AboutCaptions(bool russian) {
  return russian ? RussianAbout : EnglishAbout;
}

TMainEnabling EnablingFor(bool inputs, bool buttons, int reset) {
  const bool automatic = reset == 0;
  return TMainEnabling{
      inputs, inputs, inputs, inputs, buttons, buttons, inputs && automatic, inputs && automatic};
}

TResetEnabling ResetEnablingFor(int reset) {
  const bool automatic = reset == 0;
  return TResetEnabling{automatic, automatic, automatic, automatic};
}

std::string ProposedLogName(const std::tm& local) {
  char name[64];
  std::snprintf(name, sizeof name, "log-%04d-%02d-%02d_%02d-%02d-%02d.txt", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return name;
}

std::string WithLogExtension(const std::string& path) {
  const std::filesystem::path file(path);
  return file.has_extension() ? path : path + ".txt";
}

TMainModel::TMainModel(TDM& dm, TMainFace& face, std::shared_ptr<TJobEngine> engine)
    : dm_(dm),
      face_(face),
      control_(std::make_shared<::TRunControl>(dm, static_cast<TRunControlFront&>(*this),
                                               std::move(engine))) {}

TMainModel::~TMainModel() {
  Close();
}

const TMainCaptions& TMainModel::Captions() const {
  return MainCaptions(IsRussian);
}

const char* TMainModel::LogoResource() const {
  return ::LogoResource(IsRussian);
}

TInitialValues TMainModel::InitialValues() const {
  TInitialValues initial;
  if (ProbeSerialPort(Sets.ComPort)) {
    initial.Ports.push_back(TPortItem{Sets.ComPort, ""});
    initial.Values.Port = Sets.ComPort;
  }
  initial.Values.Rate = RateIndexOfText(Sets.ComRate);
  initial.Values.Protocol = ProtocolIndexOfText(Sets.Protocol);
  initial.Values.Reset = Sets.ResetType == 0 || Sets.ResetType == 1 ? Sets.ResetType : -1;
  initial.Values.SystemFile = Sets.SystemFile;
  if (!Sets.SystemFile.empty()) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(Sets.SystemFile, ec);
    initial.BrowseFolder =
        (ec ? std::filesystem::path(Sets.SystemFile) : absolute).parent_path().string();
  } else {
    initial.BrowseFolder = ExePath;
  }
  return initial;
}

void TMainModel::ResetChanged(int reset) {
  face_.PaintResetEnabling(ResetEnablingFor(reset));
}

std::string TMainModel::FileTooltip(const std::string& path) const {
  std::string text = dm_.GetFileDescription(path);
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  return text;
}

std::vector<TPortItem> TMainModel::PortItems() const {
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  std::map<std::string, std::string> devices;
  for (const plat::TPortEntry& entry : plat::ListPortEntries()) devices[entry.Name] = entry.Device;
  std::vector<TPortItem> items;
  for (const std::string& name : ports) {
    TPortItem item{name, ""};
    auto device = devices.find(name);
    if (device != devices.end()) {
      std::error_code ec;
      std::string target = std::filesystem::canonical(device->second, ec).string();
      item.Tooltip = device->second;
      if (!ec && target != device->second) item.Tooltip += " → " + target;
    }
    items.push_back(item);
  }
  return items;
}

int TMainModel::ChosenPort(const std::vector<TPortItem>& items, const std::string& shown) const {
  auto find = [&items](const std::string& name) {
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i].Name == name) return static_cast<int>(i);
    return -1;
  };
  int chosen = shown.empty() ? -1 : find(shown);
  return chosen >= 0 ? chosen : find(Sets.ComPort);
}

TJobRequest TMainModel::RequestFor(std::int32_t mode, const TMainValues& values) {
  TJobRequest request;
  request.Mode = mode;
  if (!values.Port.empty()) request.Port = ResolvePortName(values.Port);
  if (values.Rate >= 0 && values.Rate < static_cast<int>(std::size(OfferedRates)))
    request.Rate = OfferedRates[values.Rate];
  if (values.Protocol == 0) request.Protocol = TJobProtocol::Zorp;
  if (values.Protocol == 1) request.Protocol = TJobProtocol::Nmea;
  request.Reset = values.Reset == 0 ? TResetMethod::Auto : TResetMethod::Manual;
  request.SystemFile = values.SystemFile;
  request.RequireSystemFile = true;
  return request;
}

// The settings remember the inputs of a start that passed its checks; the file is remembered
// as soon as it is given, even when it cannot be read.
void TMainModel::RememberInputs(TDM& dm, const TJobRequest& request) {
  const std::string rate = std::to_string(request.Rate);
  const std::string protocol = JobProtocolName(request.Protocol);
  const int reset = request.Reset == TResetMethod::Auto ? 0 : 1;
  const bool changed = request.Port.Name != Sets.ComPort || rate != Sets.ComRate ||
                       protocol != Sets.Protocol || request.SystemFile != Sets.SystemFile ||
                       reset != Sets.ResetType;
  if (!changed) return;
  Sets.ComPort = request.Port.Name;
  Sets.ComRate = rate;
  Sets.Protocol = protocol;
  Sets.SystemFile = request.SystemFile;
  Sets.ResetType = reset;
  dm.SaveSettings();
}

TRunControl::TStart TMainModel::Start(std::int32_t mode) {
  StopDiagnosis();  // the job needs the port
  TJobRequest request = RequestFor(mode, face_.Values());
  lastEnd_.reset();
  if (mode == ModeProgram && !SystemFileAccepted(request)) return TRunControl::TStart::Refused;
  if (OnJobStarting) OnJobStarting(request);
  crash_.JobStarting(request);
  const TRunControl::TStart start = control_->StartJob(request);
  // A start that passed its checks is remembered (also when its port then did not open); a file
  // that could not be read is kept in memory, for the saved log's header.
  if (start == TRunControl::TStart::Started || lastEnd_ == TJobEnd::PortNotOpened)
    RememberInputs(dm_, request);
  else if (lastEnd_ == TJobEnd::FileRefused)
    Sets.SystemFile = request.SystemFile;
  return start;
}

bool TMainModel::SystemFileAccepted(TJobRequest& request) {
  const std::shared_ptr<TJobThread> thread = control_->LastThread();
  const bool parked = thread && !thread->Released();
  const TJobImages* images = nullptr;
  if (parked) {
    // The parked thread writes the images its versions inquiry loaded (the inputs are locked).
    if (std::shared_ptr<TJob> job = control_->Job()) images = &job->Images;
  } else {
    // A missing input or an unreadable file is the run control's to refuse, in its order.
    if (request.Port.Name.empty() || request.Protocol == TJobProtocol::None || request.Rate <= 0)
      return true;
    auto load = std::make_shared<TImagesLoad>(
        dm_.LoadImages(request.SystemFile, request.RequireSystemFile));
    request.Images = load;  // the run control takes these: the bytes judged are the bytes written
    images = load->Images.get();
  }
  if (images == nullptr || images->SystemImage.size() < 8) return true;

  TSystemFileFacts facts;
  facts.Path = request.SystemFile;
  facts.Description =
      ReadFileDescription(images->SystemImage.data() + 8, images->SystemImage.size() - 8);
  const TFileCheck check = CheckSystemFile(facts, "");
  if (check.Verdict == TFileVerdict::Writable) return true;

  TMessage message;
  if (check.Verdict == TFileVerdict::NoDescription) {
    message.Caption = Tr("Внимание", "Warning");
    message.Text = check.Reason + "\r" +
                   Tr("Записать его в приемник все равно?", "Write it into the receiver anyway?");
    message.Icon = TMessageIcon::Warning;
    message.Buttons = TMessageButtons::YesNo;
    message.Default = TMessageAnswer::No;
    if (ShowMessage(message) == TMessageAnswer::Yes) {
      request.Forced = true;
      return true;
    }
  } else {
    message.Caption = ApplicationTitle;
    message.Text = check.Reason + "\r" +
                   Tr("Ничего не отправлено: выберите файл системы этого приемника.",
                      "Nothing was sent: choose this receiver's system file.");
    message.Icon = TMessageIcon::Error;
    ShowMessage(message);
  }
  // A parked inquiry ends, so that another file can be chosen; the path of a new start stays in
  // memory only, as with a file that cannot be read.
  if (parked)
    control_->StopWriteThread();
  else
    Sets.SystemFile = request.SystemFile;
  return false;
}

void TMainModel::JobEnded(const TJobOutcome& outcome) {
  lastEnd_ = outcome.End;
  crash_.JobEnded(control_->ThreadRunning());
  if (outcome.End == TJobEnd::PortNotOpened) {
    // The reason and what to do beside the fixed message, and in the log.
    const std::string reason = plat::OpenFailureWindowReason(outcome.OpenError, IsRussian);
    ProgressInfo = TProgressInfo{control_->Request().Port.Name + ": " + reason, ""};
    ShowProgress(ProgressInfo);
    TJobOutcome shown = outcome;
    shown.Lines.push_back(reason);
    TRunControlFront::JobEnded(shown);
    if (OnJobEnded) OnJobEnded(outcome);
    return;
  }
  TRunControlFront::JobEnded(outcome);
  if (OnJobEnded) OnJobEnded(outcome);
  if (outcome.End == TJobEnd::NoAnswer) StartDiagnosis();
}

bool ConfirmStopOnClose() {
  TMessage question;
  question.Caption = Tr("Внимание", "Warning");
  question.Text = IsRussian ? "Выполняется программирование! В случае остановки процесса\r"
                              "программное обеспечение навигационного приемника будет испорчено!\r"
                              "Вы действительно хотите прервать процесс ?"
                            : "Execution in process! If you stop execution,\r"
                              "the software of the navigating receiver will be spoilt!\r"
                              "Stop execution?";
  question.Icon = TMessageIcon::Warning;
  question.Buttons = TMessageButtons::YesNo;
  question.Default = TMessageAnswer::No;
  return ShowMessage(question) == TMessageAnswer::Yes;
}

bool TMainModel::CloseQuery() {
  if (!control_->JobRunning()) face_.HideForClosing();
  return control_->CloseQuery([this] {
    if (!ConfirmStopOnClose()) return false;
    face_.HideForClosing();
    return true;
  });
}

void TMainModel::Close() {
  StopDiagnosis();
  control_->Close();
  crash_.JobGone();
}

void TMainModel::EnableControls(bool inputs, bool buttons) {
  face_.PaintEnabling(EnablingFor(inputs, buttons, face_.Values().Reset));
}

void TMainModel::ClearLog() {
  log_.Clear();
  face_.ClearLogLines();
}

void TMainModel::ShowProgress(const TProgressInfo& info) {
  const TProgressLog::TChange change = log_.Show(info);
  if (change == TProgressLog::TChange::None) return;
  const bool replaced = change == TProgressLog::TChange::Replaced;
  if (replaced)
    face_.ReplaceLastLogLine(log_.Lines().back());
  else
    face_.AddLogLine(log_.Lines().back());
  crash_.LogChanged(log_.Lines().back(), replaced);
}

void TWindowCrashFeed::JobStarting(const TJobRequest& request) {
  JobGone();
  // Every job of the window can reach the resident (versions and programming alike).
  slot_ = plat::CrashJobBegin(request.Port.Name, request.Port.Device, true);
}

void TWindowCrashFeed::LogChanged(const std::string& line, bool replaced) {
  plat::CrashLogLine(line, replaced);
  if (slot_ >= 0) plat::CrashJobStage(slot_, line);
  plat::CrashIfAsked("main");  // tests only
  asm volatile("");            // no tail call: a crash report's stack names this frame
}

void TWindowCrashFeed::JobEnded(bool threadKeepsPort) {
  if (!threadKeepsPort) JobGone();
}

void TWindowCrashFeed::JobGone() {
  if (slot_ < 0) return;
  plat::CrashJobEnd(slot_);
  slot_ = -1;
}

void TWindowCrashFeed::ThreadCall() {
  plat::CrashIfAsked("thread");  // tests only: the programming thread
  asm volatile("");              // no tail call: a crash report's stack names this frame
}

std::optional<TMessage> CrashReportNotice(const std::string& folder) {
  const std::string report = plat::UnseenCrashReport(folder);
  if (report.empty()) return std::nullopt;
  TMessage notice;
  notice.Caption = ApplicationTitle;
  // The window or the command line: both write into the same folder.
  notice.Text = IsRussian ? "Программа обновления завершилась аварийно и записала отчёт о сбое:\r" +
                                report +
                                "\rОтправьте его поставщику вместе с описанием того, что "
                                "делалось в это время."
                          : "The updater ended unexpectedly and wrote a crash report:\r" + report +
                                "\rPlease send it to your supplier with a note of what was being "
                                "done at the time.";
  notice.Icon = TMessageIcon::Warning;
  return notice;
}

void ShowCrashReportNotice(const std::string& folder) {
  const std::optional<TMessage> notice = CrashReportNotice(folder);
  if (!notice) return;
  ShowMessage(*notice);
  plat::MarkCrashReportSeen(folder);
}

void ShowCrashReportNotice() {
  ShowCrashReportNotice(plat::CrashReportFolder());
}

std::string TMainModel::SavedLogText() const {
  if (log_.Lines().empty()) return std::string();
  plat::TFileInfo info;
  plat::ReadFileInfo(plat::ExecutablePath(), info);
  std::string text;
  auto line = [&](const std::string& l) { text += l + "\r\n"; };
  line("Com port = " + Sets.ComPort);
  line(Sets.ResetType == 0 ? "Reset = auto" : "Reset = manual");
  line("Baud rate = " + Sets.ComRate);
  line("Protocol = " + Sets.Protocol);
  line("File = " + FileNameOf(Sets.SystemFile));
  line("FWU ver = " + info.Strings.FileVersion);
  line(std::string(33, '-'));
  for (const std::string& l : log_.Lines()) line(l);
  return Utf8ToCp1251(text);
}

// The name is UTF-8: on Windows it is opened by its wide name, so that a folder named in
// Cyrillic letters is found. A write that fails leaves no cut log behind.
bool TMainModel::SaveLogTo(const std::string& path) const {
  const std::string text = SavedLogText();
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  bool written = false;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    out.flush();
    written = static_cast<bool>(out);
  }
  std::error_code ec;
  if (!written && std::filesystem::is_regular_file(file, ec)) std::filesystem::remove(file, ec);
  return written;
}

std::string TMainModel::SaveFailedText(const std::string& path) const {
  return std::string(Tr("Ошибка записи файла ", "The log could not be written to ")) + path;
}

// After "Receiver not answer!": the other protocol at the chosen rate, then the other rates,
// in the background, each try a line of the log.
void TMainModel::StartDiagnosis() {
  StopDiagnosis();
  const TJobRequest& request = control_->Request();
  if (request.Port.Number <= 0) return;
  scan_ = std::make_unique<TProtocolScan>(
      request.Port.Number, ScanOrder(SessionProtocolCode(request.Protocol), request.Rate, false),
      SessionTimeoutMs);
  const int generation = ++scanGeneration_;
  // The scan reports on its own thread; the face posts each report to the UI thread, where
  // those of a scan that was stopped meanwhile are dropped.
  auto onUi = [this, generation](std::function<void()> fn) {
    face_.Post(WM_DIAGNOSIS_REPORT, [this, generation, fn = std::move(fn)] {
      if (generation == scanGeneration_ && scan_) fn();
    });
  };
  scan_->OnTry = [this, onUi](const TScanTry& attempt) {
    onUi([this, attempt] {
      ProgressInfo = TProgressInfo{ScanTryText(attempt), ScanWaitingText()};
      ShowProgress(ProgressInfo);
    });
  };
  scan_->OnResult = [this, onUi](const TScanTry& attempt, TScanOutcome outcome, int error) {
    onUi([this, attempt, outcome, error] {
      if (outcome == TScanOutcome::OpenFailed) {
        ProgressInfo.Status = Tr("ошибка открытия порта", "the port could not be opened");
        ShowProgress(ProgressInfo);
        ProgressInfo = TProgressInfo{
            control_->Request().Port.Name + ": " + plat::OpenFailureWindowReason(error, IsRussian),
            ""};
        ShowProgress(ProgressInfo);
        return;
      }
      ProgressInfo = TProgressInfo{ScanTryText(attempt), ScanOutcomeText(outcome)};
      ShowProgress(ProgressInfo);
    });
  };
  scan_->OnFinished = [onUi, this](const TScanTry* answered) {
    std::optional<TScanTry> found;
    if (answered != nullptr) found = *answered;
    onUi([this, found] { DiagnosisFinished(found); });
  };
  ProgressInfo = TProgressInfo{Tr("Поиск протокола и скорости приемника",
                                  "Looking for the receiver's protocol and bit rate"),
                               ""};
  ShowProgress(ProgressInfo);
  scan_->Start();
}

void TMainModel::StopDiagnosis() {
  if (!scan_ && !residentCheck_.joinable()) return;
  ++scanGeneration_;
  if (residentStop_) residentStop_->RequestStop(TStopReason::Requested);
  JoinResidentCheck();
  if (scan_) scan_->Stop();
  scan_.reset();
}

bool TMainModel::DiagnosisRunning() const {
  return (scan_ && scan_->Running()) || residentCheck_.joinable();
}

void TMainModel::JoinResidentCheck() {
  if (residentCheck_.joinable()) residentCheck_.join();
  residentStop_.reset();
}

void TMainModel::CheckResident(bool restart) {
  ProgressInfo = TProgressInfo{ResidentTryText(), ScanWaitingText()};
  ShowProgress(ProgressInfo);
  const plat::TPortEntry port = control_->Request().Port;
  const int generation = scanGeneration_;
  residentStop_ = std::make_shared<TJob>();
  residentCheck_ = std::thread([this, port, restart, generation, stop = residentStop_] {
    int error = 0;
    const TResidentProbe probe = ProbeResident(port, restart, error, stop.get());
    // A check that was stopped reports nothing: the report is dropped on the UI thread.
    face_.Post(WM_DIAGNOSIS_REPORT, [this, generation, probe, error, restart] {
      if (generation == scanGeneration_) ResidentChecked(probe, error, restart);
    });
  });
}

void TMainModel::ResidentChecked(TResidentProbe probe, int error, bool restart) {
  JoinResidentCheck();  // its last act was this report
  switch (probe) {
    case TResidentProbe::OpenFailed:
      ProgressInfo.Status = Tr("ошибка открытия порта", "the port could not be opened");
      ShowProgress(ProgressInfo);
      ProgressInfo = TProgressInfo{
          control_->Request().Port.Name + ": " + plat::OpenFailureWindowReason(error, IsRussian),
          ""};
      ShowProgress(ProgressInfo);
      if (!restart) TellNothingFound(ProgressInfo.Text);
      return;
    case TResidentProbe::Silent:
      ProgressInfo.Status = ScanOutcomeText(TScanOutcome::Silent);
      ShowProgress(ProgressInfo);
      if (!restart) {
        ProgressInfo = TProgressInfo{ScanNothingAnsweredText(), ""};
        ShowProgress(ProgressInfo);
        TellNothingFound("");
      }
      return;
    case TResidentProbe::Answers:
      break;
  }
  if (restart) {
    ProgressInfo.Status = ResidentRestartedText();
    ShowProgress(ProgressInfo);
    ProgressInfo = TProgressInfo{ResidentRestartSentText(), ""};
    ShowProgress(ProgressInfo);
    return;
  }
  ProgressInfo.Status = ScanOutcomeText(TScanOutcome::Answered);
  ShowProgress(ProgressInfo);
  ProgressInfo = TProgressInfo{ResidentWaitsText(), ""};
  ShowProgress(ProgressInfo);
  TMessage question;
  question.Caption = ApplicationTitle;
  question.Text = ResidentWaitsText() + ".\r" + ResidentRestartQuestionText();
  question.Icon = TMessageIcon::Information;
  question.Buttons = TMessageButtons::YesNo;
  question.Default = TMessageAnswer::Yes;
  if (ShowMessage(question) == TMessageAnswer::Yes) CheckResident(true);
}

// The search took half a minute or more: its end is told in a box, not only logged.
void TMainModel::TellNothingFound(const std::string& openFailure) {
  TMessage nothing;
  nothing.Caption = ApplicationTitle;
  nothing.Text = DiagnosisNothingFoundText(openFailure);
  nothing.Icon = TMessageIcon::Warning;
  ShowMessage(nothing);
}

void TMainModel::DiagnosisFinished(std::optional<TScanTry> found) {
  scan_.reset();
  if (!found) {
    // A receiver left waiting in its resident answers none of them, but a memory read.
    CheckResident(false);
    return;
  }
  const std::string protocol = ProtocolName(found->Protocol);
  const std::string rate = std::to_string(found->Rate);
  ProgressInfo = TProgressInfo{ScanAnswerText(*found), ""};
  ShowProgress(ProgressInfo);
  TMessage question;
  question.Caption = ApplicationTitle;
  question.Text = IsRussian ? "Приемник отвечает по протоколу " + protocol + " на скорости " +
                                  rate + " бит/с.\rУстановить эти параметры?"
                            : "The receiver answers in " + protocol + " at " + rate +
                                  " bit/s.\rTake these settings?";
  question.Icon = TMessageIcon::Information;
  question.Buttons = TMessageButtons::YesNo;
  question.Default = TMessageAnswer::Yes;
  if (ShowMessage(question) != TMessageAnswer::Yes) return;
  face_.SelectRateAndProtocol(RateIndex(found->Rate), found->Protocol == ProtocolZorp ? 0 : 1);
}

std::string DiagnosisNothingFoundText(const std::string& openFailure) {
  std::string text =
      Tr("Приемник не отвечает ни на одном протоколе и скорости.\rПроверьте "
         "кабель, порт и питание приемника.",
         "The receiver answers at no protocol and bit rate.\rCheck the cable, the "
         "port and the receiver's power.");
  if (!openFailure.empty()) text += "\r" + openFailure;
  return text;
}

TAboutData AboutData() {
  TAboutData data;
  plat::TFileInfo info;
  const bool found = plat::ReadFileInfo(plat::ExecutablePath(), info);
  data.WebAddress = info.Strings.Comments;
  if (found) {
    data.Name = info.Strings.InternalName;
    data.Version = std::to_string(info.Major) + "." + std::to_string(info.Minor) + " (build " +
                   std::to_string(info.Release) + "." + std::to_string(info.Build) + ")";
  }
  data.Language = Sets.Lang == 0 || Sets.Lang == 1 ? Sets.Lang : -1;
  return data;
}

void SaveLanguage(TDM& dm, int language) {
  if (language < 0) return;
  Sets.Lang = language;  // takes effect at the next start
  dm.SaveSettings();
}
