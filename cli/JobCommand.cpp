// versions and program: the window's "Versions Info" and "Programming" from a terminal, on the
// same run control; the main thread plays the UI thread.
#include <cstdio>
#include <cstdlib>

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
  void ShowProgress(const TProgressInfo& info) override { printer_.Show(info); }
  void Synchronize(const std::function<void()>& fn) override { queue_.Invoke(fn); }
  void Post(int, std::function<void()> fn) override { queue_.Post(std::move(fn)); }
  void RunCallsUntil(const std::function<bool()>& done) override { queue_.RunUntil(done); }

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
  auto exitOf = [&](const TJob& job) {
    if (job.WriteResult == ResultSuccess) return static_cast<int>(ExitSuccess);
    if (job.StopReason() == TStopReason::PortLost) return static_cast<int>(ExitPortLost);
    // Without a thread the receiver did not answer in its working protocol.
    return control->LastThread() ? ExitOf(job.WriteResult) : static_cast<int>(ExitNoAnswer);
  };
  control->OnFinished = [&] {
    ended = true;
    exit = exitOf(*control->Job());
  };
  control->OnVersions = [&] {
    ended = true;
    exit = exitOf(*control->Job());
    // The parked thread is let go the way the window lets it go: the restart goes out.
    if (exit == ExitSuccess) control->RequestStop();
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
      return ExitNoInput;
    default:
      SetMessageSink(nullptr);
      return ExitNothingAchieved;
  }
  queue.RunUntil([&] {
    if (Interrupted() && !stopped) {
      stopped = true;
      control->RequestStop();  // as closing the window after "Yes"
    }
    // The thread's last steps (the restart owed to the resident) are waited for.
    return (ended || stopped) && !control->ThreadRunning();
  });
  control->Close();
  printer.Finish();
  SetMessageSink(nullptr);
  if (stopped) return ExitInterrupted;
  return exit;
}
