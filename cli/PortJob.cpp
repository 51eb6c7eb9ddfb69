#include "cli/PortJob.h"

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "cli/ExitCodes.h"
#include "platform/CrashReport.h"
#include "platform/SerialDevice.h"

namespace {

int ExitOf(std::int32_t result) {
  if (result == ResultSuccess) return ExitSuccess;
  return result == ResultNothing ? ExitNothingAchieved : result;
}

// The exit status of a job that ended so.
int ExitOf(const TJobOutcome& outcome) {
  switch (outcome.End) {
    case TJobEnd::Success:
      return ExitSuccess;
    case TJobEnd::NoAnswer:
      return ExitNoAnswer;
    case TJobEnd::PortNotOpened:
      return ExitOpenFailed;
    case TJobEnd::InputMissing:
    case TJobEnd::ResidentMissing:
      return ExitNothingAchieved;
    case TJobEnd::FileRefused:
      return outcome.FileLoad == TSystemFileLoad::Empty ? ExitDataError : ExitNoInput;
    case TJobEnd::Stopped:
      if (outcome.Stop == TStopReason::PortLost) return ExitPortLost;
      return ExitOf(outcome.Result);
    case TJobEnd::StageFailed:
      break;
  }
  return ExitOf(outcome.Result);
}

// Why the resident refused the file: it is longer than the receiver's firmware area.
std::string LimitNote(const std::string& file) {
  std::string limit = std::to_string(SystemFileLimit);
  for (std::size_t at = limit.size(); at > 3; at -= 3) limit.insert(at - 3, ",");
  return std::string(Tr("Файл \"", "The file \"")) + file +
         Tr("\" длиннее области прошивки приемника: не более ",
            "\" is longer than the receiver's firmware area: at most ") +
         limit + Tr(" байт.", " bytes.");
}

}  // namespace

std::string NoAnswerHint() {
  return Tr(
      "Если приемник остался в загрузчике (задание прервано дважды): выключите и включите "
      "его, или запустите снова с --reset manual, или перезапустите резидент командой "
      "probe --resident; probe --scan ищет, на каком протоколе и скорости он отвечает.",
      "If the receiver was left in its bootloader (a job stopped twice): power-cycle it, "
      "or run again with --reset manual, or restart its resident with probe --resident; "
      "probe --scan looks for the protocol and bit rate it answers at.");
}

namespace {

// Prints the text's lines on standard error, each after the prefix.
void PrintError(const std::string& prefix, const std::string& text) {
  std::size_t from = 0;
  for (;;) {
    std::size_t end = text.find_first_of("\r\n", from);
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), text.substr(from, end - from).c_str());
    if (end == std::string::npos) break;
    from = end + 1;
  }
  std::fflush(stderr);
}

class TErrorMessages : public TMessageSink {
 public:
  TMessageAnswer Show(const TMessage& message) override {
    PrintError("", message.Text);
    return message.Buttons == TMessageButtons::YesNo ? TMessageAnswer::Yes : TMessageAnswer::Ok;
  }
};

TErrorMessages errorMessages;

}  // namespace

TJobMessages::TJobMessages() {
  SetMessageSink(&errorMessages);
}

TJobMessages::~TJobMessages() {
  SetMessageSink(nullptr);
}

TPortJob::TPortJob(TCallQueue& queue, TDM& dm, TLogPrinter& printer, std::string given,
                   std::string prefix)
    : queue_(queue),
      dm_(dm),
      printer_(printer),
      given_(std::move(given)),
      prefix_(std::move(prefix)) {}

TPortJob::~TPortJob() {
  plat::CrashJobEnd(crashSlot_);
}

void TPortJob::ShowProgress(const TProgressInfo& info) {
  printer_.Show(info);
  plat::CrashJobStage(crashSlot_, TProgressLog::Compose(info));
  plat::CrashIfAsked("main");  // tests only
}

void TPortJob::Synchronize(const std::function<void()>& fn) {
  plat::CrashIfAsked("thread");  // tests only: this runs on the programming thread
  queue_.Invoke([&fn] {
    fn();
    asm volatile("");  // no tail call: a crash report's stack names this frame
  });
}

void TPortJob::Post(int, std::function<void()> fn) {
  std::weak_ptr<TPortJob> self = weak_from_this();
  queue_.Post([self, fn = std::move(fn)] {
    auto job = self.lock();
    if (job) fn();
  });
}

void TPortJob::PrintMessage(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  message_ = lines.front();
  printer_.Finish();
  Error(TJobOutcome::Joined(lines));
}

void TPortJob::JobEnded(const TJobOutcome& outcome) {
  Ended();
  exit_ = ExitOf(outcome);
  PrintMessage(outcome.Notice);
  if (outcome.Information && !outcome.Lines.empty()) {
    message_ = outcome.Lines.front();
    printer_.Message(TJobOutcome::Joined(outcome.Lines));
  } else {
    PrintMessage(outcome.Lines);
  }
  // A job whose port went away was stopped by that: the message says so, not the stage's code.
  if (outcome.Stop == TStopReason::PortLost) message_ = TRunControl::PortLostText(*control_->Job());
  if (outcome.End == TJobEnd::PortNotOpened) {
    const plat::TPortEntry& port = control_->Request().Port;
    const std::string reason = (port.Device.empty() ? port.Name : port.Device) + ": " +
                               plat::OpenFailureReason(outcome.OpenError);
    Error(reason);
    if (!message_.empty()) message_ += " ";
    message_ += reason;
  }
  if (outcome.Mode == ModeVersions && outcome.End == TJobEnd::Success) {
    VersionsChecked();
    return;
  }
  // A receiver left in its bootloader (a job stopped twice) does not answer its protocol.
  if (exit_ == ExitNoAnswer) Error(NoAnswerHint());
  // The resident refuses a file longer than the receiver's firmware area: say which limit.
  auto job = control_->Job();
  if (program_ && exit_ != ExitSuccess && job &&
      job->Images.SystemImage.size() > SystemFileLimit + 8)
    Error(LimitNote(file_));
}

// A versions inquiry that succeeded: the parked thread is let go the way the window lets it go
// (the restart goes out), then the end-of-line checks: the firmware whole, and the version the
// line expects.
void TPortJob::VersionsChecked() {
  control_->RequestStop();
  const TJob& job = *control_->Job();
  if (job.FirmwareComplete == 0) {
    exit_ = ExitFirmwareDamaged;
    message_ = Tr("Прошивка неполная или повреждена", "The firmware is incomplete or damaged");
    Error(message_ + Tr(": запишите её заново (program).", ": program it again."));
  } else if (!expect_.empty() && job.ReceiverVersions.Firmware.Number != expect_) {
    exit_ = ExitVersionDiffers;
    const std::string found = job.ReceiverVersions.Firmware.Number.empty()
                                  ? Tr("не прочитана", "not read")
                                  : job.ReceiverVersions.Firmware.Number;
    message_ = std::string(Tr("Версия прошивки ", "Firmware version ")) + found +
               Tr(", ожидалась ", ", expected ") + expect_;
    Error(message_);
  }
}

void TPortJob::Error(const std::string& text) {
  if (!errorOut_) {
    PrintError(prefix_, text);
    return;
  }
  std::size_t from = 0;
  for (;;) {
    std::size_t end = text.find_first_of("\r\n", from);
    errorOut_(prefix_ + text.substr(from, end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
}

void TPortJob::Ended() {
  ended_ = true;
  if (!finished_) finished_ = std::chrono::steady_clock::now();
}

void TPortJob::EndAtStart(int exit, const std::string& message) {
  startFailed_ = true;
  exit_ = exit;
  message_ = message.substr(0, message.find('\n'));
  Error(message);
  Ended();
}

bool TPortJob::Start(const TCliOptions& options, const TResolvedPort& port,
                     std::shared_ptr<const TImagesLoad> images) {
  device_ = port.Device;
  crashSlot_ = plat::CrashJobBegin(port.Name, port.Device, true);
  program_ = options.Command != TCommand::Versions;
  file_ = options.File;
  expect_ = options.Expect;
  TJobRequest request;
  request.Mode = program_ ? ModeProgram : ModeVersions;
  request.Port.Number = port.Number;
  request.Port.Name = port.Name;
  request.Port.Device = port.Device;
  request.Rate = options.Baud;
  request.Protocol = options.Protocol == "ZORP" ? TJobProtocol::Zorp : TJobProtocol::Nmea;
  request.Reset = options.ResetAuto ? TResetMethod::Auto : TResetMethod::Manual;
  request.SystemFile = options.File;
  request.RequireSystemFile = program_;
  if (program_) request.Images = std::move(images);
  request.Verify = options.Verify;
  request.BackupDir = options.BackupDir;
  request.BackupLabel = given_;
  request.CheckFirmware = options.Check;

  control_ = std::make_shared<TRunControl>(dm_, *this);
  if (control_->StartJob(request) != TRunControl::TStart::Refused) return true;
  startFailed_ = true;
  return false;
}

void TPortJob::RequestStop() {
  if (stopped_ || startFailed_ || !control_) return;
  if (ended_ && !control_->ThreadRunning()) return;  // already over: nothing to stop
  stopped_ = true;
  if (!finished_) finished_ = std::chrono::steady_clock::now();
  message_ =
      Tr("Остановлено по запросу (Ctrl+C или SIGTERM)", "Stopped on request (Ctrl+C or SIGTERM)");
  control_->RequestStop();  // as closing the window after "Yes"
}

bool TPortJob::Done() const {
  if (startFailed_) return true;
  // The thread's last steps (the restart owed to the resident) are waited for.
  return (ended_ || stopped_) && !control_->ThreadRunning();
}

void TPortJob::Close() {
  if (!control_) return;
  control_->Close();
  printer_.Finish();
}

bool TPortJob::PortLost() const {
  return control_ && control_->Job() && control_->Job()->StopReason() == TStopReason::PortLost;
}

int TPortJob::Exit() const {
  return stopped_ ? ExitInterrupted : exit_;
}

std::optional<std::int32_t> TPortJob::Result() const {
  if (!control_ || !control_->LastThread() || !control_->Job()) return std::nullopt;
  return control_->Job()->WriteResult.load();
}

double TPortJob::Seconds() const {
  auto end = finished_ ? *finished_ : std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - started_).count();
}

std::string TPortJob::CurrentLine() {
  auto lines = printer_.Lines();
  return lines.empty() ? std::string() : lines.back();
}
