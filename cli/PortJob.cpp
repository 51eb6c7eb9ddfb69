#include "cli/PortJob.h"

#include <cstdlib>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "cli/ExitCodes.h"
#include "platform/CrashReport.h"
#include "platform/SerialDevice.h"

namespace {

TPortJob* currentJob = nullptr;  // the job whose call runs on the queue's thread

int ExitOf(std::int32_t result) {
  if (result == ResultSuccess) return ExitSuccess;
  return result == ResultNothing ? ExitNothingAchieved : result;
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

class TRoutedMessages : public TMessageSink {
 public:
  TMessageAnswer Show(const TMessage& message) override {
    if (currentJob != nullptr)
      currentJob->ShowMessage(message);
    else
      PrintError("", message.Text);
    return message.Buttons == TMessageButtons::YesNo ? TMessageAnswer::Yes : TMessageAnswer::Ok;
  }
};

TRoutedMessages routedMessages;

}  // namespace

TCurrentJob::TCurrentJob(TPortJob* job) : previous_(currentJob) {
  currentJob = job;
}

TCurrentJob::~TCurrentJob() {
  currentJob = previous_;
}

TJobMessages::TJobMessages() {
  SetMessageSink(&routedMessages);
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
  queue_.Invoke([this, &fn] {
    TCurrentJob current(this);
    fn();
  });
}

void TPortJob::Post(int, std::function<void()> fn) {
  std::weak_ptr<TPortJob> self = weak_from_this();
  queue_.Post([self, fn = std::move(fn)] {
    auto job = self.lock();
    if (!job) return;
    TCurrentJob current(job.get());
    fn();
  });
}

void TPortJob::ShowMessage(const TMessage& message) {
  message_ = message.Text.substr(0, message.Text.find_first_of("\r\n"));
  // A job whose port went away was stopped by that: the message says so, not the stage's code.
  if (PortLost()) message_ = TRunControl::PortLostText(*control_->Job());
  if (message.Icon == TMessageIcon::Information) {
    printer_.Message(message.Text);
  } else {
    printer_.Finish();
    Error(message.Text);
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

int TPortJob::JobExit() const {
  const TJob& job = *control_->Job();
  if (job.WriteResult == ResultSuccess) return ExitSuccess;
  if (job.StopReason() == TStopReason::PortLost) return ExitPortLost;
  // Without a thread the receiver did not answer in its working protocol.
  return control_->LastThread() ? ExitOf(job.WriteResult) : ExitNoAnswer;
}

void TPortJob::Ended() {
  ended_ = true;
  if (!finished_) finished_ = std::chrono::steady_clock::now();
}

void TPortJob::EndAtStart(int exit, const std::string& message) {
  TCurrentJob current(this);
  startFailed_ = true;
  exit_ = exit;
  message_ = message.substr(0, message.find('\n'));
  Error(message);
  Ended();
}

bool TPortJob::Start(const TCliOptions& options, const TResolvedPort& port,
                     std::shared_ptr<const std::vector<std::uint8_t>> file) {
  TCurrentJob current(this);
  device_ = port.Device;
  crashSlot_ = plat::CrashJobBegin(port.Name, port.Device, true);
  const std::int32_t mode = options.Command == TCommand::Versions ? ModeVersions : ModeProgram;
  TJobInputs inputs;
  inputs.Port = port.Name;
  inputs.Rate = std::to_string(options.Baud);
  inputs.Protocol = options.Protocol;
  inputs.ProtocolIndex = options.Protocol == "ZORP" ? 0 : 1;
  inputs.ResetIndex = options.ResetAuto ? 0 : 1;
  inputs.SystemFile = options.File;
  inputs.RequireSystemFile = mode == ModeProgram;
  if (mode == ModeProgram) inputs.SystemFileBytes = std::move(file);

  control_ = std::make_shared<TRunControl>(dm_, *this, false);
  control_->OnFinished = [this, program = mode == ModeProgram, file = options.File] {
    Ended();
    exit_ = JobExit();
    // A receiver left in its bootloader (a job stopped twice) does not answer its protocol.
    if (exit_ == ExitNoAnswer) Error(NoAnswerHint());
    // The resident refuses a file longer than the receiver's firmware area: say which limit.
    if (program && exit_ != ExitSuccess && control_->Job() &&
        control_->Job()->Images.SystemImage.size() > SystemFileLimit + 8)
      Error(LimitNote(file));
  };
  control_->OnVersions = [this, expect = options.Expect] {
    Ended();
    exit_ = JobExit();
    if (exit_ != ExitSuccess) return;
    // The parked thread is let go the way the window lets it go: the restart goes out.
    control_->RequestStop();
    // The end-of-line checks: the firmware whole, and the version the line expects.
    const TJob& job = *control_->Job();
    if (job.FirmwareComplete == 0) {
      exit_ = ExitFirmwareDamaged;
      message_ = Tr("Прошивка неполная или повреждена", "The firmware is incomplete or damaged");
      Error(message_ + Tr(": запишите её заново (program).", ": program it again."));
    } else if (!expect.empty() && job.ReceiverVersions.Firmware.Number != expect) {
      exit_ = ExitVersionDiffers;
      const std::string found = job.ReceiverVersions.Firmware.Number.empty()
                                    ? Tr("не прочитана", "not read")
                                    : job.ReceiverVersions.Firmware.Number;
      message_ = std::string(Tr("Версия прошивки ", "Firmware version ")) + found +
                 Tr(", ожидалась ", ", expected ") + expect;
      Error(message_);
    }
  };
  control_->ConfigureJob = [&options, given = given_](TJob& job) {
    job.Verify = options.Verify;
    job.BackupDir = options.BackupDir;
    job.BackupLabel = given;
    job.CheckFirmware = options.Check;
  };

  switch (control_->StartJob(mode, inputs)) {
    case TRunControl::TStart::Started:
      return true;
    case TRunControl::TStart::PortNotOpened: {
      const std::string reason = (port.Device.empty() ? port.Name : port.Device) + ": " +
                                 plat::OpenFailureReason(control_->LastOpenError());
      Error(reason);
      if (!message_.empty()) message_ += " ";
      message_ += reason;
      exit_ = ExitOpenFailed;
      break;
    }
    case TRunControl::TStart::SystemFileUnreadable:
      exit_ = dm_.LastSystemFileLoad() == TSystemFileLoad::Empty ? ExitDataError : ExitNoInput;
      break;
    default:
      exit_ = ExitNothingAchieved;
      break;
  }
  startFailed_ = true;
  Ended();
  return false;
}

void TPortJob::RequestStop() {
  if (stopped_ || startFailed_ || !control_) return;
  TCurrentJob current(this);
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
  TCurrentJob current(this);
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
