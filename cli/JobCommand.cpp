// versions and program: the window's "Versions Info" and "Programming" from a terminal, on the
// same run control; the main thread plays the UI thread. Several --port options run one job per
// port at once, all driven from the one call queue, so jobs never wait for each other.

#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/Interrupt.h"
#include "cli/JobHistory.h"
#include "cli/LineOutput.h"
#include "cli/PortArgument.h"
#include "cli/PortJob.h"
#include "cli/Report.h"
#include "platform/FileWrite.h"
#include "platform/Terminal.h"

namespace {

// "[COM7] Programming - 45%  (12 s)": a port's live status line.
std::string StatusLine(TPortJob& job) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "  (%.0f s)", job.Seconds());
  return "[" + job.Given() + "] " + job.CurrentLine() + seconds;
}

// The table after the jobs: port, result, firmware read, seconds; the receiver's identity when
// one was read (ZORP), and why each failing port failed when one did.
void PrintSummary(TLineOutput& output, std::vector<std::shared_ptr<TPortJob>>& jobs) {
  auto reasonOf = [](TPortJob& job) {
    return job.Exit() != ExitSuccess ? job.FinalMessage() : std::string();
  };
  auto receiverOf = [](TPortJob& job) {
    auto j = job.Job();
    return j && j->Identity.Known() ? IdentityText(j->Identity) : std::string();
  };
  std::size_t width = 4;
  std::size_t receiverWidth = 0;
  bool reasons = false;
  for (auto& job : jobs) {
    width = std::max(width, job->Given().size());
    receiverWidth = std::max(receiverWidth, receiverOf(*job).size());
    reasons = reasons || !reasonOf(*job).empty();
  }
  if (receiverWidth > 0) receiverWidth = std::max(receiverWidth, std::string("receiver").size());
  auto row = [&](const std::string& port, const std::string& result, const std::string& version,
                 const std::string& seconds, const std::string& receiver,
                 const std::string& reason) {
    char text[256];
    std::snprintf(text, sizeof text, "%-*s  %-8s  %-8s  %-7s", static_cast<int>(width),
                  port.c_str(), result.c_str(), version.c_str(), seconds.c_str());
    std::string line = text;
    if (receiverWidth > 0)
      line += "  " + receiver + std::string(receiverWidth - receiver.size(), ' ');
    if (reasons) line += "  " + reason;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    output.Line(line);
  };
  output.Line("");
  row("port", "result", "firmware", "seconds", "receiver", "reason");
  for (auto& job : jobs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", job->Seconds());
    row(job->Given(), ResultWord(*job), FirmwareWord(*job), seconds, receiverOf(*job),
        reasonOf(*job));
  }
}

}  // namespace

int RunJob(const TCliOptions& options, TLogPrinter& printer) {
  const std::vector<std::string> given =
      options.Ports.empty() ? std::vector<std::string>{options.Port} : options.Ports;
  const bool several = given.size() > 1;

  // Every port is resolved before any job starts: a name that is no port is a usage error, and
  // two names for one port would make two jobs fight over it.
  std::vector<TResolvedPort> ports(given.size());
  std::vector<int> resolveExit(given.size(), 0);
  std::vector<std::string> resolveError(given.size());
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (ResolvePort(given[i], ports[i], resolveError[i], resolveExit[i])) continue;
    if (resolveExit[i] == ExitUsage || !several) {
      std::fprintf(stderr, "%s\n", resolveError[i].c_str());
      return resolveExit[i];
    }
  }
  for (std::size_t i = 0; i < given.size(); ++i)
    for (std::size_t k = 0; k < i; ++k)
      if (resolveExit[i] == 0 && resolveExit[k] == 0 && ports[i].Number == ports[k].Number) {
        std::fprintf(stderr, "zv8810-fwu: --port %s and --port %s are the same port (%s)\n",
                     given[k].c_str(), given[i].c_str(), ports[i].Name.c_str());
        return ExitUsage;
      }
  std::string reason;
  if (!CheckOutputs(options, reason)) {
    std::fprintf(stderr, "zv8810-fwu: %s\n", reason.c_str());
    return ExitCantCreate;
  }

  TDM dm;
  // The file is read and checked once, before any port is opened: a file for another device
  // never reaches a receiver, and every port gets the same bytes.
  TCheckedFile file;
  if (options.Command == TCommand::Program)
    if (int refused = CheckFileArgument(dm, options, false, file); refused != ExitSuccess)
      return refused;

  TCallQueue queue;
  TJobMessages messages;
  TLineOutput output(stdout, several && plat::IsTerminal(stdout));
  std::vector<std::unique_ptr<TLogPrinter>> printers;
  std::vector<std::shared_ptr<TPortJob>> jobs;
  const std::time_t started = std::time(nullptr);
  for (std::size_t i = 0; i < given.size(); ++i) {
    TLogPrinter* jobPrinter = &printer;
    std::string prefix;
    if (several) {
      prefix = "[" + given[i] + "] ";
      printers.push_back(std::make_unique<TLogPrinter>(stdout, false));
      jobPrinter = printers.back().get();
      jobPrinter->ShareOutput(
          prefix, [&output](const std::string& line) { output.Line(line); }, nullptr);
    }
    jobs.push_back(std::make_shared<TPortJob>(queue, dm, *jobPrinter, given[i], prefix));
    // Error lines share the terminal with the live status lines.
    if (output.Terminal())
      jobs.back()->SetErrorOut([&output](const std::string& line) { output.LineTo(stderr, line); });
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (resolveExit[i] != 0)
      jobs[i]->EndAtStart(resolveExit[i], resolveError[i]);
    else
      jobs[i]->Start(options, ports[i], file.Images);
  }

  bool stopping = false;
  queue.RunUntil([&] {
    if (Interrupted() && !stopping) {
      stopping = true;
      for (auto& job : jobs) job->RequestStop();
    }
    if (output.Terminal()) {
      std::vector<std::string> status;
      for (auto& job : jobs)
        if (!job->Done()) status.push_back(StatusLine(*job));
      output.Status(status);
    }
    return std::all_of(jobs.begin(), jobs.end(), [](auto& job) { return job->Done(); });
  });
  for (auto& job : jobs) job->Close();
  output.ClearStatus();
  // One record per job, each in its own transaction.
  TJobHistory history(options, options.Command == TCommand::Program ? "program" : "versions",
                      options.Command == TCommand::Program ? &file : nullptr);
  for (auto& job : jobs) history.Record(*job, several ? "[" + job->Given() + "] " : "");
  if (several) PrintSummary(output, jobs);

  int exit = ExitSuccess;
  for (auto& job : jobs)
    if (job->Exit() != ExitSuccess) {
      exit = job->Exit();
      break;
    }

  if (!options.Report.empty()) {
    TJsonWriter json;
    json.BeginObject()
        .Key("tool")
        .String("zv8810-fwu")
        .Key("version")
        .String(ZV_VERSION)
        .Key("command")
        .String(options.Command == TCommand::Program ? "program" : "versions")
        .Key("file");
    WriteFileObject(json, options.Command == TCommand::Program ? options.File : std::string(),
                    &file);
    json.Key("started")
        .String(IsoTime(started))
        .Key("finished")
        .String(IsoTime(std::time(nullptr)));
    json.Key("devices").BeginArray();
    for (auto& job : jobs) WriteDeviceObject(json, *job);
    json.EndArray().EndObject();
    if (!plat::WriteFileReplacing(options.Report, json.Text() + "\n", reason)) {
      std::fprintf(stderr, "zv8810-fwu: the report %s could not be written: %s\n",
                   options.Report.c_str(), reason.c_str());
      if (exit == ExitSuccess) exit = ExitCantCreate;
    }
  }
  return exit;
}
