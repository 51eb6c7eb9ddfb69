// Benchmark (not a test): programs a 204,800-byte sample file into zv8810-sim --timing and
// compares the job's wall time with what the line, the protocol's pauses and the device
// themselves need; reports the updater's CPU time as a share of the wall time.
//
//   zv8810-bench [PATH-TO-BUILD-DIR]     (default: the build this program belongs to)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The pauses the protocol prescribes in an "Auto" NMEA programming run at 115200 bit/s: before
// the restart, after arming the greeting, around the upload, before the restart frame.
constexpr double PrescribedPausesMs = 500 + 10 + 300 + 300 + 200;
constexpr double BitsPerByte = 10;
constexpr double BaudRate = 115200;

pid_t Spawn(const std::vector<std::string>& args, int outFd, int errFd) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The production line: the same file into eight simulators at once from one zv8810-fwu. Jobs
// never wait for each other, so the run should take about as long as one receiver's.
void ParallelRun(const std::string& build, const std::string& file, double singleMs) {
  constexpr int Receivers = 8;
  std::vector<pid_t> sims;
  std::vector<std::string> args = {build + "/cli/zv8810-fwu", "program", "--file", file};
  int devNull = open("/dev/null", O_WRONLY);
  for (int i = 0; i < Receivers; ++i) {
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
  std::printf("\n%d receivers at once          %9.0f ms   (exit %d)\n", Receivers, wallMs,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf("ratio to one receiver         %9.3f   (target <= 1.10)\n", wallMs / singleMs);
  std::printf("updater CPU share             %8.1f %%\n", 100 * cpuMs / wallMs);
}

}  // namespace

int main(int argc, char** argv) {
  std::string build = argc > 1 ? argv[1] : std::string(ZV_BUILD_DIR);
  char dirTemplate[] = "/tmp/zv8810-bench-XXXXXX";
  std::string work = mkdtemp(dirTemplate);
  setenv("XDG_DATA_HOME", work.c_str(), 1);
  const std::string file = work + "/firmware.bin";
  if (std::system((build + "/device/zv8810-mkfw " + file + " --size 204800").c_str()) != 0)
    return 1;

  int out[2];
  if (pipe(out) != 0) return 1;
  int simErr = open((work + "/sim.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t sim = Spawn({build + "/device/zv8810-sim", "--com", "COM7", "--timing", "--stream", "0"},
                    out[1], simErr);
  close(out[1]);
  char c;
  std::string ready;
  while (read(out[0], &c, 1) == 1 && c != '\n') ready.push_back(c);

  int devNull = open("/dev/null", O_WRONLY);
  auto start = std::chrono::steady_clock::now();
  pid_t cli = Spawn({build + "/cli/zv8810-fwu", "program", "--port", "COM7", "--file", file},
                    devNull, devNull);
  int status = 0;
  rusage usage{};
  wait4(cli, &status, 0, &usage);
  double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);

  std::ifstream errIn(work + "/sim.err");
  std::stringstream errText;
  errText << errIn.rdbuf();
  std::smatch m;
  std::string err = errText.str();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      !std::regex_search(
          err, m,
          std::regex(
              R"(stats in=(\d+) out=(\d+) erase_ms=([\d.]+) program_ms=([\d.]+) boot_ms=([\d.]+))"))) {
    std::fprintf(stderr, "the programming run failed (exit %d)\n%s", WEXITSTATUS(status),
                 err.c_str());
    return 1;
  }
  double bytes = std::stod(m[1]) + std::stod(m[2]);
  double lineMs = bytes * BitsPerByte / BaudRate * 1000;
  double deviceMs = std::stod(m[3]) + std::stod(m[4]) + std::stod(m[5]);
  double idealMs = lineMs + PrescribedPausesMs + deviceMs;
  double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  std::printf("job wall time                 %9.0f ms\n", wallMs);
  std::printf("bytes on the line (%6.0f B)   %9.0f ms\n", bytes, lineMs);
  std::printf("prescribed pauses             %9.0f ms\n", PrescribedPausesMs);
  std::printf("device erase/program/restart  %9.0f ms\n", deviceMs);
  std::printf("ideal                         %9.0f ms\n", idealMs);
  std::printf("ratio wall/ideal              %9.3f   (target <= 1.02)\n", wallMs / idealMs);
  std::printf("updater CPU share             %8.1f %%   (target < 5 %%)\n", 100 * cpuMs / wallMs);
  ParallelRun(build, file, wallMs);
  std::system(("rm -rf " + work).c_str());
  return 0;
}
