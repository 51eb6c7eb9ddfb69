// zv8810-sim: plays a ZV-8810 receiver on a pseudo-terminal until SIGTERM or SIGINT.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

const char* kUsage =
    "usage: zv8810-sim [--protocol nmea|zorp] [--baud N] [--link PATH] [--com COMn]\n"
    "                  [--flash FILE] [--firmware FILE.bin] [--timing] [--stream MS]\n"
    "                  [--latency MS] [--state firmware|bootloader] [--fault NAME[=VALUE]]...\n"
    "\n"
    "Plays a ZV-8810 receiver on a pseudo-terminal. The first line on standard output is\n"
    "'ready PATH', PATH being the device a program opens. SIGUSR1 power-cycles the receiver\n"
    "(it comes up in its bootloader); SIGTERM or SIGINT ends the simulator.\n"
    "\n"
    "  --protocol P   working firmware protocol, nmea (default) or zorp\n"
    "  --baud N       working firmware bit rate (default 115200)\n"
    "  --link PATH    also make a symbolic link PATH to the device\n"
    "  --com COMn     register the device as COMn for the updater's port list\n"
    "  --flash FILE   the whole flash, loaded from FILE when it exists, written back at exit\n"
    "  --firmware F   a system file placed in flash as if it had been programmed\n"
    "  --timing       bytes take their real time on the line (10 bits a byte), flash erase\n"
    "                 and programming their real time (see device/README.md)\n"
    "  --stream MS    period of the firmware's own output (default 1000, 0 for none)\n"
    "  --latency MS   a USB-serial adapter's latency timer: bytes towards the updater are\n"
    "                 held until MS have passed or 62 bytes have gathered (default 0)\n"
    "  --state S      start in the working firmware (default) or the bootloader\n"
    "  --fault F      inject a fault; one of:\n";

int Usage(const std::string& error) {
  std::fprintf(stderr, "zv8810-sim: %s\n\n%s%s", error.c_str(), kUsage, sim::FaultHelp());
  return 64;
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 0 || parsed > 100000000) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  sim::TSimOptions options;
  std::string link, flashPath, firmwarePath;
  int comNumber = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::printf("%s%s", kUsage, sim::FaultHelp());
      return 0;
    } else if (arg == "--timing") {
      options.Timing = true;
    } else if (arg == "--protocol") {
      const char* v = value();
      std::string p = v ? v : "";
      for (char& c : p) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (p != "nmea" && p != "zorp") return Usage("--protocol takes nmea or zorp");
      options.Zorp = p == "zorp";
    } else if (arg == "--baud") {
      const char* v = value();
      if (!v || !ParseInt(v, options.Baud) || options.Baud == 0)
        return Usage("--baud takes a bit rate");
    } else if (arg == "--stream") {
      const char* v = value();
      if (!v || !ParseInt(v, options.StreamPeriodMs)) return Usage("--stream takes milliseconds");
    } else if (arg == "--latency") {
      const char* v = value();
      if (!v || !ParseInt(v, options.LatencyMs) || options.LatencyMs > 255)
        return Usage("--latency takes milliseconds from 0 to 255");
    } else if (arg == "--link") {
      const char* v = value();
      if (!v) return Usage("--link takes a path");
      link = v;
    } else if (arg == "--flash") {
      const char* v = value();
      if (!v) return Usage("--flash takes a file");
      flashPath = v;
    } else if (arg == "--firmware") {
      const char* v = value();
      if (!v) return Usage("--firmware takes a system file");
      firmwarePath = v;
    } else if (arg == "--com") {
      const char* v = value();
      comNumber = v ? plat::PortNumberOf(v) : 0;
      if (comNumber <= 0) return Usage("--com takes a name such as COM7");
    } else if (arg == "--state") {
      const char* v = value();
      std::string s = v ? v : "";
      if (s != "firmware" && s != "bootloader")
        return Usage("--state takes firmware or bootloader");
      options.StartInBootloader = s == "bootloader";
    } else if (arg == "--fault") {
      const char* v = value();
      std::string error;
      if (!v) return Usage("--fault takes a name");
      if (!sim::ApplyFault(v, options.Faults, error)) return Usage(error);
    } else {
      return Usage("unknown option " + arg);
    }
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
  if (!firmwarePath.empty()) {
    std::ifstream in(firmwarePath, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "zv8810-sim: cannot read %s\n", firmwarePath.c_str());
      return 66;
    }
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (file.size() + 8 > sim::FirmwareSize) {
      std::fprintf(stderr, "zv8810-sim: %s does not fit the firmware area\n", firmwarePath.c_str());
      return 66;
    }
    flash.Place(sim::FirmwareBase, sim::SystemImageOf(file));
  }

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
  // With timing, a receiver does not wait for the host's other work: best effort, it needs the
  // right to raise the priority.
  if (options.Timing) setpriority(PRIO_PROCESS, 0, -10);
  sim::TScheduler scheduler;
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
               "late_ms=%.1f late_median_us=%.0f turnaround_us=%.0f\n",
               static_cast<unsigned long long>(line.BytesReceived()),
               static_cast<unsigned long long>(line.BytesSent()), device.Hardware().EraseMs(),
               device.Hardware().ProgramMs(), device.BootMs(), line.LateMs(), line.MedianLateUs(),
               line.MedianTurnaroundUs());
  if (!flashPath.empty() && !flash.SaveFile(flashPath))
    std::fprintf(stderr, "zv8810-sim: cannot write the flash to %s\n", flashPath.c_str());
  if (comNumber > 0) plat::RemoveAlias(comNumber);
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}
