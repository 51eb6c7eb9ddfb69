#pragma once

#include "cli/LogPrinter.h"
#include "cli/Options.h"

int RunProbe(const TCliOptions& options, TLogPrinter& printer);
int RunPorts();
int RunDescribe(const TCliOptions& options);
int RunJob(const TCliOptions& options, TLogPrinter& printer);
int RunStation(const TCliOptions& options);
int RunHistory(const TCliOptions& options);
