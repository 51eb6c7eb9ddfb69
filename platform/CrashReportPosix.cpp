// Crash reports on Linux. The report is written from the signal handler (or the terminate
// handler) with async-signal-safe calls only: open, write, readlink, getdents64, nanosleep,
// uname, clock_gettime, _exit; the stack is unwound and symbolized by libbacktrace (GCC's), whose
// state is made at install and which allocates with mmap, not malloc.
#include <backtrace.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
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

backtrace_state* traceState = nullptr;
std::atomic<int> crashing{0};
char exceptionText[1024];
char executable[1024];
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
alignas(16) char alternateStack[64 * 1024];

// Text building without the C library's formatting (not async-signal-safe).
struct TOut {
  int fd;
  void Put(const char* text) { Put(text, std::strlen(text)); }
  void Put(const char* text, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd, text, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return;
      text += w;
      n -= static_cast<std::size_t>(w);
    }
  }
  void Number(unsigned long long value, int width = 0, int base = 10) {
    char digits[32];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value % static_cast<unsigned>(base)];
      value /= static_cast<unsigned>(base);
    } while (value > 0 && n < 32);
    while (n < width && n < 32) digits[n++] = '0';
    char text[32];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    Put(text, static_cast<std::size_t>(n));
  }
  void Hex(std::uintptr_t value) {
    Put("0x");
    Number(value, 0, 16);
  }
};

// Appends to a fixed buffer (the report's name).
struct TName {
  char text[1200];
  std::size_t n = 0;
  void Put(const char* s) {
    while (*s && n + 1 < sizeof text) text[n++] = *s++;
    text[n] = '\0';
  }
  void Number(unsigned long long value, int width) {
    char digits[24];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 && k < 24);
    while (k < width && k < 24) digits[k++] = '0';
    while (k > 0 && n + 1 < sizeof text) text[n++] = digits[--k];
    text[n] = '\0';
  }
};

struct TCivil {
  long long year;
  unsigned month, day, hour, minute, second;
};

// The UTC calendar date and time of seconds since 1970 (days to civil, proleptic Gregorian).
TCivil CivilOf(long long seconds) {
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = static_cast<long long>(yoe) + era * 400 + (month <= 2);
  return {year,
          month,
          day,
          static_cast<unsigned>(rest / 3600),
          static_cast<unsigned>(rest / 60 % 60),
          static_cast<unsigned>(rest % 60)};
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV (invalid memory access)";
    case SIGBUS:
      return "SIGBUS (bus error)";
    case SIGFPE:
      return "SIGFPE (arithmetic error)";
    case SIGILL:
      return "SIGILL (illegal instruction)";
    case SIGABRT:
      return "SIGABRT (abort)";
    default:
      return "a fatal signal";
  }
}

struct TTraceData {
  TOut* out;
  int frame;
};

int OnFrame(void* data, std::uintptr_t pc, const char* file, int line, const char* function) {
  auto* d = static_cast<TTraceData*>(data);
  TOut& o = *d->out;
  o.Put("  #");
  o.Number(static_cast<unsigned>(d->frame++));
  o.Put(" ");
  o.Hex(pc);
  if (function != nullptr) {
    o.Put(" in ");
    o.Put(function);
  }
  if (file != nullptr) {
    o.Put(" at ");
    o.Put(file);
    o.Put(":");
    o.Number(static_cast<unsigned>(line));
  }
  o.Put("\n");
  return d->frame >= 64 ? 1 : 0;
}

void OnTraceError(void* data, const char* message, int) {
  auto* d = static_cast<TTraceData*>(data);
  d->out->Put("  (");
  d->out->Put(message);
  d->out->Put(")\n");
}

// The descriptor this process has open on device (found through /proc/self/fd), or -1.
int DescriptorOf(const char* device) {
  if (device[0] == '\0') return -1;
  const int dir = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  int found = -1;
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n && found < 0;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      int fd = 0;
      const char* c = entry->d_name;
      if (*c < '0' || *c > '9') continue;
      for (; *c >= '0' && *c <= '9'; ++c) fd = fd * 10 + (*c - '0');
      if (fd == dir) continue;
      char link[32] = "/proc/self/fd/";
      std::size_t k = std::strlen(link);
      for (const char* d = entry->d_name; *d && k + 1 < sizeof link; ++d) link[k++] = *d;
      link[k] = '\0';
      char target[256];
      const ssize_t len = ::readlink(link, target, sizeof target - 1);
      if (len <= 0) continue;
      target[len] = '\0';
      if (std::strcmp(target, device) == 0) found = fd;
    }
    if (found >= 0) break;
  }
  ::close(dir);
  return found;
}

void SleepMs(int milliseconds) {
  timespec t{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Writes the report and ends the process. cause: the signal's or the exception's text.
[[noreturn]] void Report(int signal, const siginfo_t* info, const char* exception) {
  if (crashing.exchange(1) != 0) {
    // Another thread is writing the report; it ends the process.
    for (int i = 0; i < 300; ++i) SleepMs(100);
    ::_exit(crash::Context().ExitStatus);
  }
  TContext& c = Context();
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const TCivil t = CivilOf(now.tv_sec);
  const pid_t pid = ::getpid();
  const long tid = ::syscall(SYS_gettid);

  TName name;
  name.Put(c.Folder);
  name.Put(c.Program);
  name.Put("-crash-");
  name.Number(static_cast<unsigned long long>(t.year), 4);
  name.Number(t.month, 2);
  name.Number(t.day, 2);
  name.Put("-");
  name.Number(t.hour, 2);
  name.Number(t.minute, 2);
  name.Number(t.second, 2);
  name.Put("-");
  name.Number(static_cast<unsigned long long>(pid), 0);
  name.Put(".txt");
  int fd = ::open(name.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool written = fd >= 0;
  if (!written) fd = STDERR_FILENO;  // no folder: the report goes to standard error
  TOut o{fd};

  o.Put(c.Program);
  o.Put(" crash report\n\nProgram: ");
  o.Put(c.Program);
  o.Put(" ");
  o.Put(c.Version);
  o.Put(" (");
  o.Put(executable);
  o.Put(")\n");
  utsname system{};
  if (::uname(&system) == 0) {
    o.Put("System: ");
    o.Put(system.sysname);
    o.Put(" ");
    o.Put(system.release);
    o.Put(" ");
    o.Put(system.version);
    o.Put(" ");
    o.Put(system.machine);
    o.Put("\n");
  }
  o.Put("Time: ");
  o.Number(static_cast<unsigned long long>(t.year), 4);
  o.Put("-");
  o.Number(t.month, 2);
  o.Put("-");
  o.Number(t.day, 2);
  o.Put(" ");
  o.Number(t.hour, 2);
  o.Put(":");
  o.Number(t.minute, 2);
  o.Put(":");
  o.Number(t.second, 2);
  o.Put(" UTC\nProcess: ");
  o.Number(static_cast<unsigned long long>(pid));
  o.Put("\nThread: ");
  o.Number(static_cast<unsigned long long>(tid));
  char threadName[17] = {};
  ::prctl(PR_GET_NAME, threadName, 0, 0, 0);
  o.Put(" \"");
  o.Put(threadName);
  o.Put(tid == pid ? "\" (the main thread)\n" : "\" (not the main thread)\n");
  o.Put("Cause: ");
  if (exception != nullptr) {
    o.Put(exception);
  } else {
    o.Put("signal ");
    o.Number(static_cast<unsigned>(signal));
    o.Put(" ");
    o.Put(SignalName(signal));
    if (info != nullptr && (signal == SIGSEGV || signal == SIGBUS)) {
      o.Put(" at address ");
      o.Hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    }
  }
  o.Put("\n\nStack of the failing thread (innermost first):\n");
  if (traceState != nullptr) {
    TTraceData data{&o, 0};
    backtrace_full(traceState, 0, OnFrame, OnTraceError, &data);
  } else {
    o.Put("  (not available)\n");
  }

  o.Put("\nJobs:\n");
  bool anyJob = false;
  for (const TSlot& slot : c.Slots) {
    if (!slot.Used.load()) continue;
    anyJob = true;
    o.Put("  port ");
    o.Put(slot.Port);
    o.Put(" (");
    o.Put(slot.Device);
    o.Put("), stage: ");
    o.Put(slot.Stage[0] ? slot.Stage : "(none yet)");
    o.Put("\n");
  }
  if (!anyJob) o.Put("  none running\n");

  o.Put("\nLast log lines:\n");
  const unsigned count = c.LineCount.load();
  const unsigned first = count > static_cast<unsigned>(MaxLines) ? count - MaxLines : 0;
  for (unsigned i = first; i < count; ++i) {
    o.Put("  ");
    o.Put(c.Lines[i % MaxLines]);
    o.Put("\n");
  }
  if (count == 0) o.Put("  (none)\n");

  // The receivers that may be running the resident get its restart command, after the silence
  // a resident taking frame data needs; each write is non-blocking (the port was opened so).
  bool waited = false;
  for (const TSlot& slot : c.Slots) {
    if (!slot.Used.load() || !slot.SendRestart) continue;
    const int port = DescriptorOf(slot.Device);
    o.Put("\nReceiver on ");
    o.Put(slot.Port);
    if (port < 0) {
      o.Put(": the port is not open, nothing sent\n");
      continue;
    }
    if (!waited) {
      SleepMs(RestartSilenceMs);
      waited = true;
    }
    const ssize_t n = ::write(port, RestartFrame, sizeof RestartFrame);
    o.Put(n == static_cast<ssize_t>(sizeof RestartFrame)
              ? ": the restart command was sent (a resident goes back to the firmware)\n"
              : ": the restart command could not be sent; switch the receiver off and on\n");
  }
  if (waited) SleepMs(50);  // the frame's 9 bytes take under 1 ms at 115200 bit/s

  if (written) {
    ::close(fd);
    if (c.PrintPath) {
      TOut err{STDERR_FILENO};
      err.Put("\n");
      err.Put(c.Program);
      err.Put(": the program failed unexpectedly; a crash report was written to ");
      err.Put(name.text);
      err.Put("\n");
    }
  }
  ::_exit(c.ExitStatus);
}

void OnSignal(int signal, siginfo_t* info, void*) {
  Report(signal, info, nullptr);
}

void OnTerminate() {
  const std::string text = TerminateText();
  CopyText(exceptionText, sizeof exceptionText, text.data(), text.size());
  Report(0, nullptr, exceptionText);
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
  traceState = backtrace_create_state(executable[0] ? executable : nullptr, 1, nullptr, nullptr);

  stack_t alternate{};
  alternate.ss_sp = alternateStack;
  alternate.ss_size = sizeof alternateStack;
  ::sigaltstack(&alternate, nullptr);  // the main thread's stack may be what overflowed
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
  std::set_terminate(OnTerminate);
}

}  // namespace plat
