// zv8810-sim: plays a ZV-8810 receiver on a pseudo-terminal until SIGTERM or SIGINT.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/FlashContents.h"
#include "device/Line.h"
#include "device/Scheduler.h"
#include "device/SimDevice.h"
#include "platform/ComRegistry.h"
#include "platform/Pty.h"

namespace {

// What the command line asks for.
struct TSettings {
  sim::TSimOptions Options;
  std::string Link, FlashPath, FirmwarePath;
  int ComNumber = 0;
};

bool ParseInt(const char* text, long min, long max, int& value) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
  value = static_cast<int>(parsed);
  return true;
}

// One option: a new option is one row. Take gets the value (nullptr for a switch) and returns
// the reason it is refused, or nothing.
struct TOption {
  const char* Name;
  const char* Argument;  // nullptr for a switch
  const char* Help;
  std::string (*Take)(const char* value, TSettings& settings);
};

const TOption kOptions[] = {
    {"--protocol", "P", "working firmware protocol, nmea (default) or zorp",
     [](const char* v, TSettings& s) -> std::string {
       std::string p = v;
       for (char& c : p) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
       if (p != "nmea" && p != "zorp") return "--protocol takes nmea or zorp";
       s.Options.Zorp = p == "zorp";
       return {};
     }},
    {"--baud", "N", "working firmware bit rate, 300 to 4000000 (default 115200)",
     [](const char* v, TSettings& s) -> std::string {
       if (!ParseInt(v, 300, 4000000, s.Options.Baud))
         return "--baud takes a bit rate from 300 to 4000000";
       return {};
     }},
    {"--link", "PATH", "also make a symbolic link PATH to the device (an existing file is kept)",
     [](const char* v, TSettings& s) -> std::string {
       if (!*v) return "--link takes a path";
       s.Link = v;
       return {};
     }},
    {"--com", "COMn", "register the device as COMn for the updater's port list",
     [](const char* v, TSettings& s) -> std::string {
       s.ComNumber = plat::PortNumberOf(v);
       if (s.ComNumber <= 0) return "--com takes a name such as COM7";
       return {};
     }},
    {"--flash", "FILE", "the whole flash, loaded from FILE when it exists, written back at exit",
     [](const char* v, TSettings& s) -> std::string {
       if (!*v) return "--flash takes a file";
       s.FlashPath = v;
       return {};
     }},
    {"--firmware", "F", "a system file placed in flash as if it had been programmed",
     [](const char* v, TSettings& s) -> std::string {
       if (!*v) return "--firmware takes a system file";
       s.FirmwarePath = v;
       return {};
     }},
    {"--timing", nullptr,
     "bytes take their real time on the line (10 bits a byte), flash erase and programming "
     "their real time (see device/README.md)",
     [](const char*, TSettings& s) -> std::string {
       s.Options.Timing = true;
       return {};
     }},
    {"--stream", "MS", "period of the firmware's own output (default 1000, 0 for none)",
     [](const char* v, TSettings& s) -> std::string {
       if (!ParseInt(v, 0, 3600000, s.Options.StreamPeriodMs))
         return "--stream takes milliseconds from 0 to 3600000";
       return {};
     }},
    {"--clock", "START",
     "the NMEA clock's UTC start, YYYY-MM-DDThh:mm:ss[.ss], advancing with real time (default: "
     "the host's UTC time)",
     [](const char* v, TSettings& s) -> std::string {
       sim::UtcTime start;
       if (!sim::ParseUtcStart(v, start))
         return "--clock takes a UTC date and time such as 2026-03-01T12:00:00 (or .50 after it)";
       s.Options.ClockStart = start;
       return {};
     }},
    {"--latency", "MS",
     "a USB-serial adapter's latency timer: bytes towards the updater are held until MS have "
     "passed or 62 bytes have gathered (default 0)",
     [](const char* v, TSettings& s) -> std::string {
       if (!ParseInt(v, 0, 255, s.Options.LatencyMs))
         return "--latency takes milliseconds from 0 to 255";
       return {};
     }},
    {"--state", "S", "start in the working firmware (firmware, default) or the bootloader",
     [](const char* v, TSettings& s) -> std::string {
       const std::string state = v;
       if (state != "firmware" && state != "bootloader")
         return "--state takes firmware or bootloader";
       s.Options.StartInBootloader = state == "bootloader";
       return {};
     }},
    {"--fault", "F", "inject a fault (repeatable); one of:",
     [](const char* v, TSettings& s) -> std::string {
       std::string error;
       if (!sim::ApplyFault(v, s.Options.Faults, error)) return error;
       return {};
     }},
};

std::string UsageText() {
  std::string text = "usage: zv8810-sim";
  std::size_t column = text.size();
  for (const TOption& o : kOptions) {
    std::string item =
        std::string(" [") + o.Name + (o.Argument ? std::string(" ") + o.Argument : "") + "]";
    if (column + item.size() > 96) {
      text += "\n                 ";
      column = 17;
    }
    text += item;
    column += item.size();
  }
  text +=
      "\n\nPlays a ZV-8810 receiver on a pseudo-terminal. The first line on standard output is\n"
      "'ready PATH', PATH being the device a program opens. SIGUSR1 power-cycles the receiver\n"
      "(it comes up in its bootloader); SIGTERM or SIGINT ends the simulator. A refused option\n"
      "ends it with status 64 and the reason.\n\n";
  for (const TOption& o : kOptions)
    text += sim::HelpLine(
        std::string("  ") + o.Name + (o.Argument ? std::string(" ") + o.Argument : ""), o.Help, 17);
  return text + sim::FaultHelp();
}

int Usage(const std::string& error) {
  std::fprintf(stderr, "zv8810-sim: %s\n\n%s", error.c_str(), UsageText().c_str());
  return 64;
}

// A refusal of something the command line named, found when checking it at start.
int Refuse(const std::string& reason) {
  std::fprintf(stderr, "zv8810-sim: %s\n", reason.c_str());
  return 64;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The flash file is read at start and written back at exit: both must be possible now, so a
// run never ends having lost what was programmed.
std::string CheckFlashFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "--flash " + path + " is a folder; name a file";
    if (!S_ISREG(st.st_mode)) return "--flash " + path + " is not a regular file";
    if (st.st_size != 0 && st.st_size != static_cast<off_t>(sim::FlashSize))
      return "--flash " + path + " holds " + std::to_string(st.st_size) +
             " bytes, not a flash image of " + std::to_string(sim::FlashSize) +
             " bytes; name a new file or an image the simulator wrote";
    if (::access(path.c_str(), R_OK | W_OK) != 0)
      return "--flash " + path + ": " + std::strerror(errno);
  } else if (errno != ENOENT) {
    return "--flash " + path + ": " + std::strerror(errno);
  }
  const std::string folder = FolderOf(path);
  if (::access(folder.c_str(), W_OK) != 0)
    return "--flash " + path + ": cannot write in " + folder + ": " + std::strerror(errno);
  return {};
}

// The system file --firmware names, read whole; the reason when it cannot be.
std::string ReadFirmware(const std::string& path, std::vector<std::uint8_t>& file) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "--firmware " + path + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "--firmware " + path + " is a folder; name a system file";
  if (!S_ISREG(st.st_mode)) return "--firmware " + path + " is not a regular file";
  if (static_cast<std::uint64_t>(st.st_size) + 8 > sim::FirmwareSize)
    return "--firmware " + path + " does not fit the firmware area (at most " +
           std::to_string(sim::FirmwareSize - 8) + " bytes)";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "--firmware " + path + ": cannot read it";
  file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return "--firmware " + path + ": cannot read it";
  return {};
}

// A path --link may replace: nothing there yet, or an earlier link.
std::string CheckLink(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
    return "--link " + path + " exists and is not a symbolic link; it is left alone";
  return {};
}

int Run(int argc, char** argv) {
  TSettings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", UsageText().c_str());
      return 0;
    }
    const TOption* option = nullptr;
    for (const TOption& o : kOptions)
      if (arg == o.Name) option = &o;
    if (!option) return Usage("unknown option " + arg);
    const char* value = nullptr;
    if (option->Argument) {
      if (i + 1 >= argc)
        return Usage(std::string(option->Name) + " takes a value (" + option->Name + " " +
                     option->Argument + ")");
      value = argv[++i];
    }
    const std::string error = option->Take(value, settings);
    if (!error.empty()) return Usage(error);
  }
  sim::TSimOptions& options = settings.Options;
  const std::string& link = settings.Link;
  const std::string& flashPath = settings.FlashPath;
  const int comNumber = settings.ComNumber;

  std::vector<std::uint8_t> firmware;
  if (!settings.FirmwarePath.empty()) {
    const std::string error = ReadFirmware(settings.FirmwarePath, firmware);
    if (!error.empty()) return Refuse(error);
  }
  if (!flashPath.empty()) {
    const std::string error = CheckFlashFile(flashPath);
    if (!error.empty()) return Refuse(error);
  }
  if (!link.empty()) {
    const std::string error = CheckLink(link);
    if (!error.empty()) return Refuse(error);
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  sim::TFlash flash;
  if (flashPath.empty() || !flash.LoadFile(flashPath)) sim::FillFactoryFlash(flash);
  if (!settings.FirmwarePath.empty()) flash.Place(sim::FirmwareBase, sim::SystemImageOf(firmware));

  plat::TPty pty;
  if (!pty.Open()) {
    std::fprintf(stderr, "zv8810-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(pty.DevicePath().c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "zv8810-sim: cannot make the link %s: %s\n", link.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  if (comNumber > 0 && !plat::AddAlias(comNumber, pty.DevicePath())) {
    std::fprintf(stderr, "zv8810-sim: cannot register COM%d in %s\n", comNumber,
                 plat::AliasFolder().c_str());
    return 1;
  }
  std::printf("ready %s\n", pty.DevicePath().c_str());
  std::fflush(stdout);

  // Wake-ups on the line's byte times are due to the microsecond, not the kernel's usual 50.
  prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
  sim::TScheduler scheduler;
  // With timing, a receiver does not wait for the host's other work: best effort, it needs the
  // right to raise the priority.
  if (options.Timing) setpriority(PRIO_PROCESS, 0, -10);
  sim::TLine line(pty, options.Timing, std::chrono::milliseconds(options.LatencyMs));
  sim::TSimDevice device(options, line, scheduler, flash);
  device.Start();

  bool running = true;
  while (running) {
    std::int64_t timeout = scheduler.NextTimeoutUs();
    std::int64_t lineTimeout = line.NextTimeoutUs();
    if (lineTimeout >= 0 && (timeout < 0 || lineTimeout < timeout)) timeout = lineTimeout;
    timespec wait{static_cast<time_t>(timeout / 1000000),
                  static_cast<long>(timeout % 1000000) * 1000};
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {pty.MasterFd(), 0, 0}};
    if (line.WantsRead()) fds[1].events |= POLLIN;
    if (line.WantsWrite()) fds[1].events |= POLLOUT;
    if (::ppoll(fds, 2, timeout < 0 ? nullptr : &wait, nullptr) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signalFd, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGUSR1)
          device.PowerCycle();
        else
          running = false;
      }
    }
    if (fds[1].revents & POLLIN) line.ReadAvailable();
    sim::Bytes arrived = line.TakeArrived();
    if (!arrived.empty()) device.Receive(arrived);
    scheduler.RunDue();
    if (device.LineDropped()) {
      std::fprintf(stderr, "zv8810-sim: the line drops\n");
      pty.Close();
      break;
    }
    if (line.WantsWrite()) line.WriteDue();
  }

  // What the line and the device spent, for the benchmark.
  std::fprintf(stderr,
               "zv8810-sim: stats in=%llu out=%llu erase_ms=%.1f program_ms=%.1f boot_ms=%.1f "
               "late_ms=%.1f late_median_us=%.0f turnaround_us=%.0f dropped=%llu\n",
               static_cast<unsigned long long>(line.BytesReceived()),
               static_cast<unsigned long long>(line.BytesSent()), device.Hardware().EraseMs(),
               device.Hardware().ProgramMs(), device.BootMs(), line.LateMs(), line.MedianLateUs(),
               line.MedianTurnaroundUs(), static_cast<unsigned long long>(line.BytesDropped()));
  if (!flashPath.empty() && !flash.SaveFile(flashPath))
    std::fprintf(stderr, "zv8810-sim: cannot write the flash to %s\n", flashPath.c_str());
  if (comNumber > 0) plat::RemoveAlias(comNumber);
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zv8810-sim: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "zv8810-sim: an unexpected error\n");
  }
  return 70;
}
