// zv8810-fwu: the updater's jobs from a terminal.
#include <unistd.h>

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
  IsRussian = options.Russian;
  if (options.Trace) EnableWireTrace();
  WatchInterrupts([] {});

  TLogPrinter printer(stdout, isatty(STDOUT_FILENO) != 0);
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
    default:
      std::fprintf(stderr, "zv8810-fwu: this command is not available in this build yet\n");
      return ExitUsage;
  }
}
