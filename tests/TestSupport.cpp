#include "tests/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "platform/ComRegistry.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts program with args; actions say where its standard streams go.
pid_t Spawn(const std::vector<std::string>& args, posix_spawn_file_actions_t& actions) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

std::string CliPath() {
  return ZV_CLI_PATH;
}
std::string SimPath() {
  return ZV_SIM_PATH;
}

std::string TempDir() {
  static std::string dir = [] {
    char pattern[] = "/tmp/zv8810-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    return std::string(made);
  }();
  return dir;
}

TPtyPeer::TPtyPeer(int number) : number_(number) {
  if (!pty_.Open()) throw std::runtime_error("cannot open a pseudo-terminal");
  plat::AddAlias(number, pty_.DevicePath());
}

TPtyPeer::~TPtyPeer() {
  plat::RemoveAlias(number_);
}

void TPtyPeer::Send(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(pty_.MasterFd(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd fd{pty_.MasterFd(), POLLOUT, 0};
      ::poll(&fd, 1, 100);
    }
  }
}

void TPtyPeer::Send(const std::string& text) {
  Send(Bytes(text.begin(), text.end()));
}

Bytes TPtyPeer::Read(std::size_t count, int timeoutMs) {
  Bytes got;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < count) {
    pollfd fd{pty_.MasterFd(), POLLIN, 0};
    if (::poll(&fd, 1, RemainingMs(deadline)) <= 0) break;
    std::uint8_t buffer[4096];
    ssize_t n = ::read(pty_.MasterFd(), buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

Bytes TPtyPeer::ReadFor(int milliseconds) {
  return Read(SIZE_MAX, milliseconds);
}

TSimProcess::TSimProcess(int number, const std::vector<std::string>& args) : number_(number) {
  // Close-on-exec, so that a program another thread starts meanwhile does not inherit the pipe.
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  errPath_ = TempDir() + "/sim-" + std::to_string(number) + ".err";
  std::vector<std::string> all = {SimPath(), "--com", "COM" + std::to_string(number)};
  all.insert(all.end(), args.begin(), args.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_ = Spawn(all, actions);
  close(out[1]);
  std::string line;
  char c;
  pollfd fd{out[0], POLLIN, 0};
  while (pid_ > 0 && ::poll(&fd, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
    line.push_back(c);
  close(out[0]);
  if (line.rfind("ready ", 0) != 0) {
    std::string err = Stop();
    throw std::runtime_error("zv8810-sim did not start: " + line + " " + err);
  }
  device_ = line.substr(6);
}

TSimProcess::~TSimProcess() {
  Stop();
}

void TSimProcess::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

std::string TSimProcess::Errors() const {
  return ReadFile(errPath_);
}

std::string TSimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  return ReadFile(errPath_);
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs) {
  return RunProgram(program, args, timeoutMs, -1);
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs, int interruptAfterMs) {
  if (interruptAfterMs < 0) return RunProgramInterruptedWhen(program, args, {}, timeoutMs);
  const auto interruptAt = Clock::now() + std::chrono::milliseconds(interruptAfterMs);
  return RunProgramInterruptedWhen(
      program, args, [interruptAt] { return Clock::now() >= interruptAt; }, timeoutMs);
}

TRunResult RunProgramInterruptedWhen(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::function<bool()>& interruptWhen, int timeoutMs) {
  static std::atomic<int> serial{0};
  std::string base =
      TempDir() + "/run-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  std::string outPath = base + ".out", errPath = base + ".err";
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  TRunResult result;
  auto start = Clock::now();
  pid_t pid = Spawn(all, actions);
  if (pid < 0) return result;
  auto deadline = start + std::chrono::milliseconds(timeoutMs);
  auto asked = start;
  std::optional<Clock::time_point> interrupted;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (interruptWhen && !interrupted && Clock::now() >= asked) {
      asked = Clock::now() + std::chrono::milliseconds(20);
      if (interruptWhen()) {
        kill(pid, SIGINT);
        interrupted = Clock::now();
      }
    }
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.Err = "timed out\n";
      break;
    }
    usleep(5000);
  }
  result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (interrupted)
    result.SecondsAfterInterrupt =
        std::chrono::duration<double>(Clock::now() - *interrupted).count();
  result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.Out = ReadFile(outPath);
  result.Err += ReadFile(errPath);
  return result;
}

TRunResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
  return RunProgram(CliPath(), args, timeoutMs);
}

TRunResult RunCliInterrupted(const std::vector<std::string>& args, int afterMs) {
  return RunProgram(CliPath(), args, 60000, afterMs);
}
