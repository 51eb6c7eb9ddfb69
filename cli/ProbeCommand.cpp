// probe: the receiver session alone, as the window's "Auto" reset starts a job.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "appdata/Language.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/PortArgument.h"
#include "cli/Report.h"
#include "programmer/BootloaderLink.h"
#include "programmer/DiagnosisTexts.h"
#include "programmer/ResidentCheck.h"
#include "programmer/RunControl.h"
#include "receiver/NavReceiverExU.h"
#include "receiver/ProtocolScan.h"

namespace {

// The session's notifications arrive on its threads; the command waits for them here.
struct TVerdict {
  std::mutex lock;
  std::condition_variable changed;
  bool connected = false;
  bool noAnswer = false;
  bool logChanged = false;

  void Note(bool TVerdict::*flag) {
    {
      std::lock_guard<std::mutex> guard(lock);
      this->*flag = true;
    }
    changed.notify_all();
  }
  void Connected(TNavReceiver*) { Note(&TVerdict::connected); }
  void NoAnswer(TNavReceiver*) { Note(&TVerdict::noAnswer); }
  void LogAdded(TNavReceiver*) { Note(&TVerdict::logChanged); }
};

// Prints the session log lines not shown yet.
void PrintNewLines(TNavReceiver& session, std::size_t& shown, TLogPrinter& printer) {
  std::vector<std::string> lines = session.Log();
  for (; shown < lines.size(); ++shown) printer.Append(lines[shown]);
}

plat::TPortEntry EntryOf(const TResolvedPort& port) {
  plat::TPortEntry entry;
  entry.Number = port.Number;
  entry.Name = port.Name;
  entry.Device = port.Device;
  return entry;
}

// probe --resident: a resident left running is sent its restart command.
int RunResident(const TResolvedPort& port, TLogPrinter& printer) {
  int error = 0;
  const std::string line = ResidentTryText();
  printer.Show({line, ScanWaitingText()});
  switch (ProbeResident(EntryOf(port), true, error)) {
    case TResidentProbe::OpenFailed:
      printer.Finish();
      std::fprintf(stderr, "%s\n", OpenFailureMessage(port, error).c_str());
      return ExitOpenFailed;
    case TResidentProbe::Silent:
      printer.Show({line, ScanOutcomeText(TScanOutcome::Silent)});
      printer.Finish();
      std::fprintf(stderr, "%s\n", ResidentSilentText().c_str());
      return ExitNoAnswer;
    case TResidentProbe::Answers:
      break;
  }
  printer.Show({line, ResidentRestartedText()});
  printer.Message(ResidentRestartSentText());
  return ExitSuccess;
}

// probe --scan: every protocol and bit rate in turn until the receiver answers.
int RunScan(const TCliOptions& options, const TResolvedPort& port, TLogPrinter& printer) {
  const std::uint8_t protocol = options.Protocol == "ZORP" ? ProtocolZorp : ProtocolNmea;
  TProtocolScan scan(port.Number, ScanOrder(protocol, options.Baud, true), SessionTimeoutMs);
  std::mutex lock;
  std::condition_variable changed;
  bool finished = false, found = false, openFailed = false;
  int openError = 0;
  TScanTry answer;
  scan.OnTry = [&](const TScanTry& t) { printer.Show({ScanTryText(t), ScanWaitingText()}); };
  scan.OnResult = [&](const TScanTry& t, TScanOutcome outcome, int error) {
    if (outcome == TScanOutcome::OpenFailed) {
      std::lock_guard<std::mutex> guard(lock);
      openFailed = true;
      openError = error;
      return;
    }
    printer.Show({ScanTryText(t), ScanOutcomeText(outcome)});
  };
  scan.OnFinished = [&](const TScanTry* answered) {
    {
      std::lock_guard<std::mutex> guard(lock);
      finished = true;
      if (answered != nullptr) {
        found = true;
        answer = *answered;
      }
    }
    changed.notify_all();
  };
  printer.Append(Tr("Поиск протокола и скорости приемника на ", "Looking for the receiver on ") +
                 port.Name);
  scan.Start();
  {
    std::unique_lock<std::mutex> guard(lock);
    while (!finished && !Interrupted()) changed.wait_for(guard, std::chrono::milliseconds(100));
  }
  scan.Stop();
  printer.Finish();
  if (Interrupted()) return ExitInterrupted;
  if (openFailed) {
    std::fprintf(stderr, "%s\n", OpenFailureMessage(port, openError).c_str());
    return ExitOpenFailed;
  }
  if (!found) {
    // A receiver left in its resident answers none of them, but a memory read at 115200.
    int error = 0;
    if (ProbeResident(EntryOf(port), false, error) == TResidentProbe::Answers) {
      std::fprintf(
          stderr, "%s%s%s%s\n", ResidentWaitsText().c_str(),
          Tr(": перезапустите его командой zv8810-fwu probe --port ",
             ": restart it with zv8810-fwu probe --port "),
          port.Name.c_str(),
          Tr(" --resident или выключите и включите его.", " --resident, or power-cycle it."));
      return ExitNoAnswer;
    }
    std::fprintf(stderr, "%s\n", ScanNothingAnsweredText().c_str());
    return ExitNoAnswer;
  }
  printer.Message(ScanAnswerText(answer) + ", " + port.Name);
  return ExitSuccess;
}

}  // namespace

int RunProbe(const TCliOptions& options, TLogPrinter& printer) {
  TResolvedPort port;
  int exitCode = 0;
  if (!ResolvePortOrReport(options.Port, port, exitCode)) return exitCode;
  if (options.Scan) return RunScan(options, port, printer);
  if (options.Resident) return RunResident(port, printer);
  const std::uint8_t protocol = options.Protocol == "ZORP" ? ProtocolZorp : ProtocolNmea;

  TVerdict verdict;
  TNavReceiver session;  // declared after the verdict: its threads end before the verdict goes
  session.SetTimeout(SessionTimeoutMs);
  session.OnConnected.Bind<&TVerdict::Connected>(&verdict);
  session.OnNoAnswer.Bind<&TVerdict::NoAnswer>(&verdict);
  session.OnLog.Bind<&TVerdict::LogAdded>(&verdict);
  std::size_t shown = 0;

  session.Connect(port.Number, options.Baud, protocol);
  if (!session.Opened()) {
    PrintNewLines(session, shown, printer);
    printer.Finish();
    std::fprintf(stderr, "%s\n", OpenFailureMessage(port, session.Port().LastOpenError()).c_str());
    return ExitOpenFailed;
  }

  {
    std::unique_lock<std::mutex> lock(verdict.lock);
    while (!verdict.connected && !verdict.noAnswer && !Interrupted()) {
      verdict.changed.wait_for(lock, std::chrono::milliseconds(100));
      lock.unlock();
      PrintNewLines(session, shown, printer);
      lock.lock();
    }
  }
  PrintNewLines(session, shown, printer);
  if (Interrupted()) return ExitInterrupted;
  bool connected;
  {
    std::lock_guard<std::mutex> lock(verdict.lock);
    connected = verdict.connected;
  }
  if (!connected) {
    printer.Finish();
    std::fprintf(stderr, "%s\n%s\n", Tr("Приемник не отвечает!", "Receiver not answer!"),
                 NoAnswerHint().c_str());
    return ExitNoAnswer;
  }
  if (!options.Restart) {
    std::string identity;
    if (protocol == ProtocolZorp) {
      // The identity packets follow the first answer within a poll cycle.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
      TReceiverIdentity known;
      while (std::chrono::steady_clock::now() < until) {
        const TReceiverProperties p = session.GetProperties();
        known = TReceiverIdentity{p.ModuleNumber, p.ModuleId, p.ProductionDate, p.DeviceId};
        if (!known.ModuleNumber.empty() && !known.DeviceId.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      PrintNewLines(session, shown, printer);
      if (known.Known()) identity = " (" + IdentityText(known) + ")";
    }
    printer.Message(std::string(Tr("Приемник отвечает: ", "Receiver answers: ")) +
                    options.Protocol + ", " + std::to_string(options.Baud) + " bit/s, " +
                    port.Name + identity);
    return ExitSuccess;
  }

  // The restart as the connect stage sends it: a pause, the awaited text armed, the command.
  std::this_thread::sleep_for(std::chrono::milliseconds(RestartCommandPauseMs));
  bool acknowledged = session.RestartAwaiting(RestartAnswer).Wait(RestartAnswerMs);
  PrintNewLines(session, shown, printer);
  if (Interrupted()) return ExitInterrupted;
  if (!acknowledged) {
    printer.Finish();
    std::fprintf(stderr, "%s\n",
                 Tr("ошибка (нет подтверждения перезапуска)", "Error: no restart acknowledgement"));
    return ExitConnect;
  }
  printer.Message(Tr("Приемник перезапущен в загрузчик", "Receiver restarted into its bootloader"));
  return ExitSuccess;
}
