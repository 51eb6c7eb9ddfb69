// zv8810-fwu: the updater's jobs from a terminal.
#include <clocale>
#include <cstdio>
#include <string>

#include "appdata/Language.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/LogPrinter.h"
#include "cli/Options.h"
#include "cli/WireTrace.h"
#include "platform/CrashReport.h"
#include "platform/ExecutablePath.h"
#include "platform/Terminal.h"
#include "platform/VersionInfo.h"

namespace {

// The program's version from its own version data (the version resource on Windows).
int PrintVersion() {
  plat::TFileInfo info;
  if (!plat::ReadFileInfo(plat::ExecutablePath(), info) || !info.FixedFound) {
    std::fprintf(stderr, "zv8810-fwu: this build carries no version data\n");
    return ExitNothingAchieved;
  }
  std::printf("zv8810-fwu %u.%u.%u.%u\n", info.Major, info.Minor, info.Release, info.Build);
  return ExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  TCliOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "zv8810-fwu: %s\n\n%s", error.c_str(), UsageText());
    return ExitUsage;
  }
  if (options.Command == TCommand::Help) {
    std::printf("%s", UsageText());
    return ExitSuccess;
  }
  if (options.Command == TCommand::Version) return PrintVersion();
#ifndef ZV_HISTORY
  if (!options.History.empty()) {
    std::fprintf(stderr,
                 "zv8810-fwu: --history: the Windows build keeps no history of jobs; --report "
                 "FILE.json writes each run's record\n");
    return ExitUsage;
  }
#endif
  // A crash writes a report in the user's data folder and ends with 70 (ExitCrashed).
  plat::InstallCrashHandler(
      {"zv8810-fwu", ZV_VERSION, plat::CrashReportFolder(), ExitCrashed, true});
  IsRussian = options.Russian;
  if (options.Trace) EnableWireTrace();
  WatchAdapterLatency(options.Trace);
  WatchInterrupts([] {});

  TLogPrinter printer(stdout, plat::IsTerminal(stdout));
  switch (options.Command) {
    case TCommand::Probe:
      return RunProbe(options, printer);
    case TCommand::Ports:
      return RunPorts();
    case TCommand::Describe:
      return RunDescribe(options);
    case TCommand::Versions:
    case TCommand::Program:
      return RunJob(options, printer);
    case TCommand::Station:
      return RunStation(options);
    case TCommand::History:
#ifdef ZV_HISTORY
      return RunHistory(options);
#else
      std::fprintf(stderr,
                   "zv8810-fwu: the Windows build keeps no history of jobs: --report FILE.json "
                   "writes each run's record\n");
      return ExitUsage;
#endif
    default:
      std::fprintf(stderr, "zv8810-fwu: this command is not available in this build yet\n");
      return ExitUsage;
  }
}
