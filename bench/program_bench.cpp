// Benchmark (not a test): programs a 204,800-byte sample file into zv8810-sim --timing and
// compares the job's wall time with what the line, the protocol's pauses and the device
// themselves need; reports the updater's CPU time as a share of the wall time. Then the same job
// behind adapters whose latency timer holds the bytes towards the updater (zv8810-sim
// --latency), and the CPU that the window and the command line use while they wait.
//
//   zv8810-bench [--no-latency | --stops | --parallel] [PATH-TO-BUILD-DIR]
//                (default: the build this program belongs to; --parallel: one receiver, then 8
//                and 16 at once)
//
// Figures only: nothing here fails on a slow machine. It exits non-zero only when a job did not
// succeed, since its figures would then mean nothing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// The pauses the protocol prescribes in an "Auto" NMEA programming run at 115200 bit/s: before
// the restart, after arming the greeting, around the upload, before the restart frame.
constexpr double PrescribedPausesMs = 500 + 10 + 300 + 300 + 200;
constexpr double BitsPerByte = 10;
constexpr double BaudRate = 115200;
constexpr int LatencyRowsMs[] = {0, 1, 4, 16};
constexpr int ParallelRows[] = {8, 16};  // receivers programmed at once

pid_t Spawn(const std::vector<std::string>& args, int outFd, int errFd,
            const std::vector<std::string>& extraEnv = {}) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envCopy;
  for (char** e = environ; *e != nullptr; ++e) envCopy.emplace_back(*e);
  for (const auto& e : extraEnv) envCopy.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envCopy) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The simulator, registered as COM7, until Stop; Stop returns what it wrote on standard error.
class TSim {
 public:
  TSim(const std::string& build, const std::string& work, const std::vector<std::string>& extra)
      : errPath_(work + "/sim.err") {
    int out[2];
    if (pipe(out) != 0) return;
    int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {build + "/device/zv8810-sim", "--com", "COM7", "--stream",
                                     "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = Spawn(args, out[1], err);
    close(out[1]);
    close(err);
    char c;
    std::string ready;
    while (read(out[0], &c, 1) == 1 && c != '\n') ready.push_back(c);
    close(out[0]);
    ready_ = ready.rfind("ready ", 0) == 0;
  }
  ~TSim() { Stop(); }
  bool Ready() const { return pid_ > 0 && ready_; }
  std::string Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    return ReadFile(errPath_);
  }

 private:
  std::string errPath_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

struct TJobFigures {
  double WallMs = 0;
  double Bytes = 0;
  double LineMs = 0;
  double DeviceMs = 0;
  double IdealMs = 0;
  double CpuMs = 0;
  double SimLateMs = 0;
  double SimLateMedianUs = 0;
  double TurnaroundUs = 0;
  double Ratio() const { return WallMs / IdealMs; }
};

// One "Programming" job through zv8810-fwu, the adapter's latency timer at latencyMs.
std::optional<TJobFigures> RunProgramming(const std::string& build, const std::string& work,
                                          const std::string& file, int latencyMs) {
  TSim sim(build, work, {"--timing", "--latency", std::to_string(latencyMs)});
  if (!sim.Ready()) {
    std::fprintf(stderr, "zv8810-sim did not start\n%s", sim.Stop().c_str());
    return std::nullopt;
  }
  const std::string cliLog = work + "/fwu.log";
  int log = open(cliLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  auto start = std::chrono::steady_clock::now();
  pid_t cli =
      Spawn({build + "/cli/zv8810-fwu", "program", "--port", "COM7", "--file", file}, log, log);
  int status = 0;
  rusage usage{};
  wait4(cli, &status, 0, &usage);
  close(log);
  TJobFigures f;
  f.WallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::string err = sim.Stop();
  std::smatch m;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      !std::regex_search(err, m,
                         std::regex(R"(stats in=(\d+) out=(\d+) erase_ms=([\d.]+) )"
                                    R"(program_ms=([\d.]+) boot_ms=([\d.]+) late_ms=([\d.]+) )"
                                    R"(late_median_us=([\d.]+) turnaround_us=([\d.]+))"))) {
    std::string said = ReadFile(cliLog);
    for (char& c : said)
      if (c == '\r') c = '\n';  // the log lines rewritten in place
    if (said.size() > 600) said = "..." + said.substr(said.size() - 600);
    std::fprintf(stderr, "the programming run failed (exit %d)\nzv8810-fwu said:\n%s\n%s",
                 WEXITSTATUS(status), said.c_str(), err.c_str());
    return std::nullopt;
  }
  f.Bytes = std::stod(m[1]) + std::stod(m[2]);
  f.LineMs = f.Bytes * BitsPerByte / BaudRate * 1000;
  f.DeviceMs = std::stod(m[3]) + std::stod(m[4]) + std::stod(m[5]);
  f.IdealMs = f.LineMs + PrescribedPausesMs + f.DeviceMs;
  f.CpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  f.SimLateMs = std::stod(m[6]);
  f.SimLateMedianUs = std::stod(m[7]);
  f.TurnaroundUs = std::stod(m[8]);
  return f;
}

// CPU time (user and system, all threads) of a running process, in milliseconds.
double ProcessCpuMs(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && (fields >> field); ++index)
    if (index == 14 || index == 15) ticks += std::stod(field);
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The CPU share of a waiting process over `window`, after it had `settle` to start up; the
// process is then ended with `signal`. Negative when it ended on its own before.
double IdleShare(pid_t pid, std::chrono::milliseconds settle, std::chrono::milliseconds window,
                 int signal) {
  std::this_thread::sleep_for(settle);
  double before = ProcessCpuMs(pid);
  std::this_thread::sleep_for(window);
  double after = ProcessCpuMs(pid);
  int status = 0;
  bool alive = waitpid(pid, &status, WNOHANG) == 0;
  kill(pid, signal);
  waitpid(pid, &status, 0);
  if (!alive || before < 0 || after < 0) return -1;
  return 100 * (after - before) / static_cast<double>(window.count());
}

void PrintShare(const char* what, double share) {
  if (share < 0)
    std::printf("%-38s %s\n", what, "not measured (it ended early)");
  else
    std::printf("%-38s %6.2f %%\n", what, share);
}

// The production line: the same file into several simulators at once from one zv8810-fwu.
// Jobs never wait for each other, so the run should take about as long as one receiver's.
void ParallelRun(const std::string& build, const std::string& file, double singleMs,
                 int receivers) {
  std::vector<pid_t> sims;
  std::vector<std::string> args = {build + "/cli/zv8810-fwu", "program", "--file", file};
  int devNull = open("/dev/null", O_WRONLY);
  for (int i = 0; i < receivers; ++i) {
    int out[2];
    if (pipe(out) != 0) return;
    const std::string com = "COM" + std::to_string(21 + i);
    sims.push_back(Spawn({build + "/device/zv8810-sim", "--com", com, "--timing", "--stream", "0"},
                         out[1], devNull));
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
    }
    close(out[0]);
    args.insert(args.end(), {"--port", com});
  }
  auto start = std::chrono::steady_clock::now();
  pid_t cli = Spawn(args, devNull, devNull);
  int status = 0;
  rusage usage{};
  wait4(cli, &status, 0, &usage);
  double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (pid_t sim : sims) {
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
  }
  close(devNull);
  double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  std::printf("\n%d receivers at once          %9.0f ms   (exit %d)\n", receivers, wallMs,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf("ratio to one receiver         %9.3f   (target <= 1.10)\n", wallMs / singleMs);
  std::printf("updater CPU share             %8.1f %%   (%.2f %% per job)\n", 100 * cpuMs / wallMs,
              100 * cpuMs / wallMs / receivers);
  std::fflush(stdout);
}
// Ctrl+C in the middle of a job: how long zv8810-fwu takes from the signal to its end, at the
// stages where a stop has the most to wait for (frames being written; the resident's restart
// after a second of silence is part of it; the erase's 30 s reply wait).
void StopRun(const std::string& build, const std::string& work, const std::string& file) {
  struct {
    const char* stage;
    std::vector<std::string> sim;
    int afterMs;
  } const stops[] = {
      {"writing frames", {"--timing"}, 8000},
      {"waiting for the erase reply", {"--fault", "erase-silent"}, 3500},
  };
  std::printf("\nCtrl+C to the end of zv8810-fwu (target about 1 s)\n");
  for (const auto& stop : stops) {
    TSim sim(build, work, stop.sim);
    if (!sim.Ready()) {
      std::printf("%-30s zv8810-sim did not start\n", stop.stage);
      continue;
    }
    int devNull = open("/dev/null", O_WRONLY);
    pid_t cli = Spawn({build + "/cli/zv8810-fwu", "program", "--port", "COM7", "--file", file},
                      devNull, devNull);
    close(devNull);
    std::this_thread::sleep_for(std::chrono::milliseconds(stop.afterMs));
    kill(cli, SIGINT);
    const auto signalled = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(cli, &status, 0);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - signalled)
            .count();
    std::printf("%-30s %6.0f ms   (exit %d)\n", stop.stage, ms,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string build = ZV_BUILD_DIR;
  bool latencyTable = true;
  bool stopsOnly = false;
  bool parallelOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--no-latency")
      latencyTable = false;
    else if (arg == "--stops")
      stopsOnly = true;  // only the time from Ctrl+C to the end
    else if (arg == "--parallel")
      parallelOnly = true;  // one receiver, then 8 and 16 at once
    else if (arg.rfind("-", 0) != 0)
      build = arg;
    else {
      std::fprintf(stderr,
                   "usage: zv8810-bench [--no-latency | --stops | --parallel] "
                   "[PATH-TO-BUILD-DIR]\n");
      return 64;
    }
  }
  char dirTemplate[] = "/tmp/zv8810-bench-XXXXXX";
  std::string work = mkdtemp(dirTemplate);
  setenv("XDG_DATA_HOME", work.c_str(), 1);
  const std::string file = work + "/firmware.bin";
  if (std::system((build + "/device/zv8810-mkfw " + file + " --size 204800").c_str()) != 0)
    return 1;

  std::printf("load average before: %s", ReadFile("/proc/loadavg").c_str());
  if (stopsOnly) {
    StopRun(build, work, file);
    std::filesystem::remove_all(work);
    return 0;
  }
  auto main = RunProgramming(build, work, file, 0);
  if (!main) return 1;
  if (parallelOnly) {
    std::printf("one receiver                  %9.0f ms\n", main->WallMs);
    for (int receivers : ParallelRows) ParallelRun(build, file, main->WallMs, receivers);
    std::printf("load average after:  %s", ReadFile("/proc/loadavg").c_str());
    std::filesystem::remove_all(work);
    return 0;
  }
  const TJobFigures& f = *main;
  std::printf("job wall time                 %9.0f ms\n", f.WallMs);
  std::printf("bytes on the line (%6.0f B)   %9.0f ms\n", f.Bytes, f.LineMs);
  std::printf("prescribed pauses             %9.0f ms\n", PrescribedPausesMs);
  std::printf("device erase/program/restart  %9.0f ms\n", f.DeviceMs);
  std::printf("ideal                         %9.0f ms\n", f.IdealMs);
  std::printf("ratio wall/ideal              %9.3f   (target <= 1.01)\n", f.Ratio());
  std::printf("simulator late, all exchanges %9.0f ms\n", f.SimLateMs);
  std::printf("simulator late (median)       %9.3f ms   (an answer's last byte)\n",
              f.SimLateMedianUs / 1000);
  std::printf("updater turnaround (median)   %9.3f ms   (seen from the receiver)\n",
              f.TurnaroundUs / 1000);
  std::printf("updater CPU share             %9.2f %%   (target < 1 %%)\n",
              100 * f.CpuMs / f.WallMs);
  std::fflush(stdout);

  bool allRan = true;
  if (latencyTable) {
    std::printf("\nadapter latency timer (zv8810-sim --latency): the same job\n");
    for (int latency : LatencyRowsMs) {
      std::optional<TJobFigures> row =
          latency == 0 ? main : RunProgramming(build, work, file, latency);
      std::string head = "latency " + std::to_string(latency) + " ms";
      if (!row) {
        std::printf("%-16s the job failed (see above)\n", head.c_str());
        allRan = false;
        continue;
      }
      std::printf("%-16s job %8.0f ms   ratio %6.3f   +%6.0f ms\n", head.c_str(), row->WallMs,
                  row->Ratio(), row->WallMs - main->WallMs);
      std::fflush(stdout);
    }
  }

  std::printf("\nCPU while waiting\n");
  {
    // "Manual": the command line opens the port and counts ten seconds down while the operator
    // power-cycles the receiver; nobody does, and nothing arrives.
    TSim sim(build, work, {});
    int devNull = open("/dev/null", O_WRONLY);
    pid_t cli =
        Spawn({build + "/cli/zv8810-fwu", "versions", "--port", "COM7", "--reset", "manual"},
              devNull, devNull);
    close(devNull);
    PrintShare("zv8810-fwu in the countdown", IdleShare(cli, std::chrono::milliseconds(1000),
                                                        std::chrono::milliseconds(6000), SIGINT));
  }
  {
    // The window, idle after start-up; it runs from a folder of its own, where it keeps its
    // settings file.
    const std::string window = build + "/ui/ZV8810_FWU";
    std::error_code ec;
    if (!std::filesystem::exists(window, ec)) {
      std::printf("%-38s %s\n", "ZV8810_FWU idle", "not built (needs Qt 6 Widgets)");
    } else {
      TSim sim(build, work, {});
      const std::string copy = work + "/ZV8810_FWU";
      std::filesystem::copy_file(window, copy, ec);
      std::ofstream(work + "/ZV8810_FWU.ini")
          << "ComPort=COM7\r\nComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=0\r\n";
      int devNull = open("/dev/null", O_WRONLY);
      pid_t ui = Spawn({copy}, devNull, devNull, {"QT_QPA_PLATFORM=offscreen"});
      close(devNull);
      PrintShare("ZV8810_FWU idle", IdleShare(ui, std::chrono::milliseconds(2000),
                                              std::chrono::milliseconds(6000), SIGTERM));
    }
  }
  StopRun(build, work, file);
  for (int receivers : ParallelRows) ParallelRun(build, file, main->WallMs, receivers);
  std::printf("load average after:  %s", ReadFile("/proc/loadavg").c_str());
  std::filesystem::remove_all(work);
  return allRan ? 0 : 1;
}
