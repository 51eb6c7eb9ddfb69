// Crash reports on Windows: the unhandled-exception filter and the terminate handler write the
// text report (stack buffers only: the heap may be what broke) and a minidump beside it, through
// dbghelp.dll loaded at install, so that nothing is loaded while the process is failing.
#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <typeinfo>

#include "platform/CrashContext.h"
#include "platform/CrashReport.h"
#include "platform/ExecutablePath.h"

namespace plat {

namespace {

using namespace crash;

using TMiniDumpWriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);
TMiniDumpWriteDump miniDumpWriteDump = nullptr;
std::atomic<int> crashing{0};
DWORD mainThread = 0;
char exceptionText[1024];
char executable[1024];
char systemText[256];

struct TOut {
  HANDLE file;
  void Put(const char* text) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  }
  template <typename... T>
  void Format(const char* format, T... values) {
    char line[1024];
    std::snprintf(line, sizeof line, format, values...);
    Put(line);
  }
};

const char* ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "EXCEPTION_ACCESS_VIOLATION (invalid memory access)";
    case EXCEPTION_STACK_OVERFLOW:
      return "EXCEPTION_STACK_OVERFLOW";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_IN_PAGE_ERROR:
      return "EXCEPTION_IN_PAGE_ERROR";
    default:
      return "an exception";
  }
}

// The failing thread's frames from its context: module and offset of each (the build's
// x86_64-w64-mingw32-addr2line turns them into functions and lines).
void WriteStack(TOut& o, CONTEXT context) {
  for (int frame = 0; frame < 64 && context.Rip != 0; ++frame) {
    const DWORD64 pc = context.Rip;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(pc), &module))
      GetModuleFileNameA(module, path, sizeof path);
    const char* name = std::strrchr(path, '\\');
    o.Format("  #%d 0x%llx in %s+0x%llx\n", frame, static_cast<unsigned long long>(pc),
             name ? name + 1 : path,
             static_cast<unsigned long long>(pc - reinterpret_cast<DWORD64>(module)));
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &base, nullptr);
    if (function == nullptr) {  // a leaf function: the return address is on top of the stack
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
      continue;
    }
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, pc, function, &context, &handlerData, &establisher,
                     nullptr);
  }
}

[[noreturn]] void Report(EXCEPTION_POINTERS* pointers, const char* exception) {
  TContext& c = Context();
  if (crashing.exchange(1) != 0) {
    Sleep(30000);  // another thread writes the report and ends the process
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(c.ExitStatus));
  }
  SYSTEMTIME t{};
  GetSystemTime(&t);
  char base[1200];
  std::snprintf(base, sizeof base, "%s%s-crash-%04u%02u%02u-%02u%02u%02u-%lu", c.Folder, c.Program,
                t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                static_cast<unsigned long>(GetCurrentProcessId()));
  char textPath[1300], dumpPath[1300];
  std::snprintf(textPath, sizeof textPath, "%s.txt", base);
  std::snprintf(dumpPath, sizeof dumpPath, "%s.dmp", base);
  HANDLE file = CreateFileA(textPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool written = file != INVALID_HANDLE_VALUE;
  TOut o{written ? file : GetStdHandle(STD_ERROR_HANDLE)};

  o.Format("%s crash report\r\n\r\nProgram: %s %s (%s)\r\n", c.Program, c.Program, c.Version,
           executable);
  o.Format("System: %s\r\n", systemText);
  o.Format("Time: %04u-%02u-%02u %02u:%02u:%02u UTC\r\n", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond);
  o.Format("Process: %lu\r\n", static_cast<unsigned long>(GetCurrentProcessId()));
  const DWORD thread = GetCurrentThreadId();
  o.Format("Thread: %lu %s\r\n", static_cast<unsigned long>(thread),
           thread == mainThread ? "(the main thread)" : "(not the main thread)");
  if (exception != nullptr) {
    o.Format("Cause: %s\r\n", exception);
  } else {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    o.Format("Cause: exception 0x%08lx %s", static_cast<unsigned long>(record.ExceptionCode),
             ExceptionName(record.ExceptionCode));
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2)
      o.Format(" (%s at address 0x%llx)",
               record.ExceptionInformation[0] == 1 ? "writing" : "reading",
               static_cast<unsigned long long>(record.ExceptionInformation[1]));
    o.Put("\r\n");
  }
  o.Put("\r\nStack of the failing thread (innermost first):\r\n");
  WriteStack(o, *pointers->ContextRecord);

  o.Put("\r\nJobs:\r\n");
  bool anyJob = false;
  for (const TSlot& slot : c.Slots) {
    if (!slot.Used.load()) continue;
    anyJob = true;
    o.Format("  port %s (%s), stage: %s\r\n", slot.Port, slot.Device,
             slot.Stage[0] ? slot.Stage : "(none yet)");
  }
  if (!anyJob) o.Put("  none running\r\n");
  o.Put("\r\nLast log lines:\r\n");
  const unsigned count = c.LineCount.load();
  const unsigned first = count > static_cast<unsigned>(MaxLines) ? count - MaxLines : 0;
  for (unsigned i = first; i < count; ++i) o.Format("  %s\r\n", c.Lines[i % MaxLines]);
  if (count == 0) o.Put("  (none)\r\n");
  for (const TSlot& slot : c.Slots) {
    if (!slot.Used.load() || !slot.SendRestart) continue;
    // The port's handle is the engine's: a write from here could meet its own pending one.
    o.Format("\r\nReceiver on %s: if it does not answer its protocol now, switch it off and on\r\n",
             slot.Port);
  }

  bool dumped = false;
  if (miniDumpWriteDump != nullptr) {
    HANDLE dump = CreateFileA(dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (dump != INVALID_HANDLE_VALUE) {
      MINIDUMP_EXCEPTION_INFORMATION info{thread, pointers, FALSE};
      dumped = miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), dump,
                                 static_cast<MINIDUMP_TYPE>(MiniDumpWithThreadInfo), &info, nullptr,
                                 nullptr) != FALSE;
      CloseHandle(dump);
      if (!dumped) DeleteFileA(dumpPath);
    }
  }
  o.Format("\r\nMinidump: %s\r\n", dumped ? dumpPath : "(none written)");
  if (written) {
    CloseHandle(file);
    if (c.PrintPath) {
      TOut err{GetStdHandle(STD_ERROR_HANDLE)};
      err.Format("\n%s: the program failed unexpectedly; a crash report was written to %s\n",
                 c.Program, textPath);
    }
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(c.ExitStatus));
  for (;;) Sleep(1000);
}

LONG WINAPI OnException(EXCEPTION_POINTERS* pointers) {
  Report(pointers, nullptr);
}

void OnTerminate() {
  const std::string text = TerminateText();
  CopyText(exceptionText, sizeof exceptionText, text.data(), text.size());
  CONTEXT context{};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = 0xE0000001;  // not a system exception: the C++ runtime gave up
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers{&record, &context};
  Report(&pointers, exceptionText);
}

void DescribeSystem() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto getVersion = reinterpret_cast<TRtlGetVersion>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (getVersion != nullptr) getVersion(&version);
  using TWineVersion = const char*(CDECL*)();
  auto wine = reinterpret_cast<TWineVersion>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  std::snprintf(systemText, sizeof systemText, "Windows %lu.%lu build %lu%s%s x86-64",
                static_cast<unsigned long>(version.dwMajorVersion),
                static_cast<unsigned long>(version.dwMinorVersion),
                static_cast<unsigned long>(version.dwBuildNumber), wine ? " (Wine " : "",
                wine ? (std::string(wine()) + ")").c_str() : "");
}

}  // namespace

void InstallCrashHandler(const TCrashSetup& setup) {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  TContext& c = Context();
  CopyText(c.Program, sizeof c.Program, setup.Program.data(), setup.Program.size());
  CopyText(c.Version, sizeof c.Version, setup.Version.data(), setup.Version.size());
  CopyText(c.Folder, sizeof c.Folder, setup.Folder.data(), setup.Folder.size());
  c.ExitStatus = setup.ExitStatus;
  c.PrintPath = setup.PrintPath;
  std::error_code ec;
  std::filesystem::create_directories(setup.Folder, ec);
  const std::string exe = ExecutablePath();
  CopyText(executable, sizeof executable, exe.data(), exe.size());
  mainThread = GetCurrentThreadId();
  DescribeSystem();
  if (HMODULE dbghelp = LoadLibraryA("dbghelp.dll"))
    miniDumpWriteDump = reinterpret_cast<TMiniDumpWriteDump>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  SetUnhandledExceptionFilter(OnException);
  std::set_terminate(OnTerminate);
}

}  // namespace plat
