// Crash reports: what the program was doing when it died, written where the user finds it.
//
// A front end (the window, the command line) calls InstallCrashHandler once at start, before its
// threads start. From then on an unhandled C++ exception in any thread (std::terminate), a fatal
// signal (Linux: SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) or an unhandled structured exception
// (Windows, through SetUnhandledExceptionFilter) writes a text report into Setup.Folder:
// program and version, system, time (UTC), the thread, the signal or exception, the failing
// thread's stack (symbolized where the executable has its debug information), each job's port
// and stage, and the last 50 log lines; on Windows also a minidump beside it. Then, for every
// job whose receiver may be running the resident, the restart command is written to its port
// after the resident's silence (bounded waits and non-blocking writes only, so the handler never
// hangs), and the process ends with Setup.ExitStatus.
//
// The job context is fed by the front ends (nothing below them keeps a job in a process-wide
// variable): CrashJobBegin when a job's port is known, CrashJobStage on each of its log reports,
// CrashJobEnd when it ends, CrashLogLine for every log line.
//
// The windows install it first thing at start (ui/qt/WindowProgram.cpp, ui/win32/ZV8810_FWU.cpp)
// as "ZV8810_FWU"; their model feeds the job context and, once the window shows, tells of
// UnseenCrashReport (then MarkCrashReportSeen): ShowCrashReportNotice in ui/model/MainModel.h.
#pragma once

#include <string>

namespace plat {

struct TCrashSetup {
  std::string Program;    // "zv8810-fwu", "ZV8810_FWU"
  std::string Version;    // "2.3.0.1"
  std::string Folder;     // where reports go, with its trailing separator (made at install)
  int ExitStatus = 70;    // the status the process ends with after the report
  bool PrintPath = true;  // say on standard error where the report is
};

// The folder reports go to: "crash/" in the user's data folder (UserFolders.h).
std::string CrashReportFolder();

// Installs the handlers for the process. Safe to call once; later calls change nothing.
void InstallCrashHandler(const TCrashSetup& setup);

// The job context. A slot per job (up to 32 at once; more go unrecorded). maySendRestart: the
// job can reach the resident (versions, programming), so the handler owes it the restart command.
int CrashJobBegin(const std::string& port, const std::string& device, bool maySendRestart);
void CrashJobStage(int slot, const std::string& stage);
void CrashJobEnd(int slot);
// One log line (the last 50 are kept); replacesLast: it completes the line before in place.
void CrashLogLine(const std::string& line, bool replacesLast = false);

// The newest report in folder that has not been marked seen, or "" when there is none.
std::string UnseenCrashReport(const std::string& folder);
// Marks every report in folder as seen (the window said where it is).
void MarkCrashReportSeen(const std::string& folder);

// For tests only: when the environment's ZV8810_TEST_CRASH names where (for example "main",
// "thread"), CrashIfAsked(where) crashes the process there, the Nth time it is passed with
// "@N": "main:exception@3" throws an exception nobody can catch, "thread" (no ":exception")
// writes through a null pointer (SIGSEGV / an access violation).
void CrashIfAsked(const char* where);

}  // namespace plat
