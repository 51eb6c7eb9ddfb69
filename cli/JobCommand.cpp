// versions and program: the window's "Versions Info" and "Programming" from a terminal, on the
// same run control; the main thread plays the UI thread.
#include <cstdio>
#include <cstdlib>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/PortArgument.h"
#include "platform/SerialDevice.h"
#include "programmer/CallQueue.h"
#include "programmer/RunControl.h"

namespace {

// The window's side of the run control, for a terminal.
class TCliFront : public TRunControlFront {
 public:
  TCliFront(TCallQueue& queue, TLogPrinter& printer) : queue_(queue), printer_(printer) {}
  void EnableControls(bool, bool) override {}
  void ClearLog() override { printer_.Clear(); }
  void ShowProgress() override { printer_.Show(ProgressInfo); }
  void Synchronize(const std::function<void()>& fn) override { queue_.Invoke(fn); }
  void Post(int, std::function<void()> fn) override { queue_.Post(std::move(fn)); }

 private:
  TCallQueue& queue_;
  TLogPrinter& printer_;
};

// The window's message boxes: the final report on standard output, failures on standard error.
class TCliMessages : public TMessageSink {
 public:
  explicit TCliMessages(TLogPrinter& printer) : printer_(printer) {}
  TMessageAnswer Show(const TMessage& message) override {
    if (message.Icon == TMessageIcon::Information) {
      printer_.Message(message.Text);
    } else {
      printer_.Finish();
      std::string text = message.Text;
      for (char& c : text)
        if (c == '\r') c = '\n';
      std::fprintf(stderr, "%s\n", text.c_str());
    }
    return message.Buttons == TMessageButtons::YesNo ? TMessageAnswer::Yes : TMessageAnswer::Ok;
  }

 private:
  TLogPrinter& printer_;
};

// Why the resident refused the file: it is longer than the receiver's firmware area.
std::string LimitNote(const std::string& file) {
  std::string limit = std::to_string(SystemFileLimit);
  for (std::size_t at = limit.size(); at > 3; at -= 3) limit.insert(at - 3, ",");
  return std::string(Tr("Файл \"", "The file \"")) + file +
         Tr("\" длиннее области прошивки приемника: не более ",
            "\" is longer than the receiver's firmware area: at most ") +
         limit + Tr(" байт.", " bytes.");
}

int ExitOf(std::int32_t result) {
  if (result == ResultSuccess) return ExitSuccess;
  return result == ResultNothing ? ExitNothingAchieved : result;
}

}  // namespace

int RunJob(const TCliOptions& options, TLogPrinter& printer) {
  TResolvedPort port;
  int exitCode = 0;
  if (!ResolvePortOrReport(options.Port, port, exitCode)) return exitCode;
  const std::int32_t mode = options.Command == TCommand::Program ? ModeProgram : ModeVersions;
  TJobInputs inputs;
  inputs.Port = port.Name;
  inputs.Rate = std::to_string(options.Baud);
  inputs.Protocol = options.Protocol;
  inputs.ProtocolIndex = options.Protocol == "ZORP" ? 0 : 1;
  inputs.ResetIndex = options.ResetAuto ? 0 : 1;
  inputs.SystemFile = options.File;
  inputs.RequireSystemFile = mode == ModeProgram;

  TCallQueue queue;
  TCliFront front(queue, printer);
  TCliMessages messages(printer);
  SetMessageSink(&messages);
  TDM dm;
  auto control = std::make_shared<TRunControl>(dm, front, false);

  bool ended = false;
  int exit = ExitSuccess;
  control->OnFinished = [&] {
    ended = true;
    // Without a thread the receiver did not answer in its working protocol.
    exit = control->LastThread() ? ExitOf(WriteResult) : ExitNoAnswer;
  };
  control->OnVersions = [&] {
    ended = true;
    exit = ExitOf(WriteResult);
    // The parked thread is stopped the way the window stops it: the restart goes out.
    if (WriteResult == ResultSuccess) control->StopWriteThread();
  };
  bool stopped = false;

  TRunControl::TStart start = control->StartJob(mode, inputs);
  switch (start) {
    case TRunControl::TStart::Started:
      break;
    case TRunControl::TStart::PortNotOpened:
      std::fprintf(stderr, "%s: %s\n",
                   port.Device.empty() ? port.Name.c_str() : port.Device.c_str(),
                   plat::OpenFailureReason(control->LastOpenError()).c_str());
      SetMessageSink(nullptr);
      return ExitOpenFailed;
    case TRunControl::TStart::SystemFileUnreadable:
      SetMessageSink(nullptr);
      return dm.LastSystemFileLoad() == TSystemFileLoad::Empty ? ExitDataError : ExitNoInput;
    default:
      SetMessageSink(nullptr);
      return ExitNothingAchieved;
  }
  queue.RunUntil([&] {
    if (Interrupted() && !stopped) {
      stopped = true;
      control->StopWriteThread();  // as closing the window after "Yes"
    }
    auto thread = control->LastThread();
    // A stopped job waits for the thread only while it still owes the resident its restart.
    bool owesRestart = thread && thread->ResidentLoaded();
    return (ended && (!thread || thread->Finished())) ||
           (stopped && (!owesRestart || thread->Finished()));
  });
  control->Close();
  printer.Finish();
  SetMessageSink(nullptr);
  auto thread = control->LastThread();
  if (thread && !thread->Finished()) {
    // The thread still waits inside a stage and has nothing left to send: leave at once,
    // without running the destructors it may still need.
    std::fflush(nullptr);
    std::_Exit(ExitInterrupted);
  }
  if (stopped) return ExitInterrupted;
  if (mode == ModeProgram && exit != ExitSuccess && SystemSize > SystemFileLimit)
    std::fprintf(stderr, "%s\n", LimitNote(options.File).c_str());
  return exit;
}
