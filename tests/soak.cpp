// zv8810-soak: programming jobs against zv8810-sim under random conditions, each judged.
//
// A seed draws the working protocol and bit rate, the reset method, the system file's size, one
// fault of the simulator's table with a random value (or none), and perhaps a power cycle at a
// random moment. Every run is judged:
//   - success is claimed exactly when the receiver's flash holds the image (a claimed success
//     over a wrong flash is a false success; a failure over a correct flash is counted apart,
//     as the updater cannot always know: a lost last reply);
//   - the job ends within its time-outs plus 2 s (else a hang);
//   - the receiver is usable afterwards: a versions job succeeds without a power cycle, where the
//     fault leaves a real receiver able to answer;
//   - neither program reports a sanitizer finding.
//
// usage: zv8810-soak [--seeds N] [--first SEED] [--max-size BYTES] [--jobs N] [--verbose]
//                    [--only FAULT]
// --jobs N runs N seeds at once, each on a port and simulator of its own: a run spends nearly all
// its time waiting for the line, so a few at once finish sooner without loading the machine.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/Faults.h"
#include "device/FlashContents.h"
#include "tests/TestSupport.h"

namespace {

constexpr int Rates[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr std::uint32_t AreaLimit = sim::FirmwareSize - 8;  // 983,032 bytes
constexpr int FirstPort = 97;  // the first job's port; --jobs N uses N ports from here

struct TScenario {
  std::uint32_t Seed = 0;
  bool Zorp = false;
  int Baud = 115200;
  bool Manual = false;
  std::uint32_t Size = 0;
  std::string Fault;  // "" for none, else NAME[=VALUE]
  const sim::TFaultRow* Row = nullptr;
  int PowerCycleMs = -1;  // when the operator power-cycles the receiver, -1 never

  std::string Describe() const {
    std::string text = "seed " + std::to_string(Seed) + ": " + (Zorp ? "zorp" : "nmea") + " " +
                       std::to_string(Baud) + (Manual ? " manual" : " auto") + ", " +
                       std::to_string(Size) + " bytes, fault " + (Fault.empty() ? "none" : Fault);
    if (PowerCycleMs >= 0) text += ", power cycle at " + std::to_string(PowerCycleMs) + " ms";
    return text;
  }
};

std::uint32_t Frames(std::uint32_t size) {
  return std::max<std::uint32_t>(1, (size + 8 + 1023) / 1024);
}

// One value for a fault row, drawn to land where the job can meet it.
std::string FaultValue(const sim::TFaultRow& row, std::uint32_t size, std::mt19937& random) {
  const std::string form = row.Form;
  auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  auto hex = [&] {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", below(256));
    return std::string(text);
  };
  const std::uint32_t frames = std::min<std::uint32_t>(Frames(size), 960);
  if (form.find("=N:XX") != std::string::npos)
    return "=" + std::to_string(below(frames)) + ":" + hex();
  if (form.find("=XX") != std::string::npos) return "=" + hex();
  if (form.find("[=N]") != std::string::npos)
    return below(2) ? "" : "=" + std::to_string(1 + below(2));
  if (form.find("=N") != std::string::npos) {
    // flip counts the bytes the resident receives; the others count data frames.
    if (std::string(row.Name) == "flip") return "=" + std::to_string(below(size + 64));
    return "=" + std::to_string(below(frames));
  }
  return "";
}

// --only NAME: every seed draws this fault of the table (a hunt for one fault's troubles).
std::string OnlyFault;

TScenario Draw(std::uint32_t seed, std::uint32_t maxSize) {
  std::mt19937 random(seed * 2654435761u + 7);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
  TScenario s;
  s.Seed = seed;
  s.Zorp = chance(0.5);
  s.Baud = Rates[std::uniform_int_distribution<int>(0, std::size(Rates) - 1)(random)];
  s.Manual = chance(0.2);
  // Sizes spread over the orders of magnitude; now and then the limit, or one byte past it.
  const bool atLimit = chance(0.05);
  const double exponent =
      std::uniform_real_distribution<double>(0, std::log2(double(maxSize)))(random);
  s.Size = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::exp2(exponent)));
  if (atLimit && maxSize == AreaLimit) s.Size = chance(0.5) ? AreaLimit : AreaLimit + 1;
  const auto& table = sim::FaultTable();
  std::vector<const sim::TFaultRow*> rows;
  for (const sim::TFaultRow& row : table)
    if (OnlyFault.empty() || OnlyFault == row.Name) rows.push_back(&row);
  if (!chance(0.25) || !OnlyFault.empty()) {
    s.Row = rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(random)];
    s.Fault = std::string(s.Row->Name) + FaultValue(*s.Row, s.Size, random);
  }
  if (chance(0.2)) s.PowerCycleMs = std::uniform_int_distribution<int>(0, 8000)(random);
  return s;
}

// What the job may spend: the clean run, the longest wait the fault can cause, 2 s.
double TimeBound(const TScenario& s) {
  // The clean run: connecting, the restart, the greeting (the countdown for Manual), the upload
  // and the frames, generous for a loaded machine.
  double seconds = 15.0 + (s.Manual ? 11.0 : 0.0) + s.Size * 40e-6;
  if (s.Row) {
    const std::string name = s.Row->Name;
    if (name == "no-greeting" || name == "resident-silent")
      seconds += 12;
    else if (name.find("silent") != std::string::npos || name == "flip" || name == "no-answer")
      seconds += 35;
    else
      seconds += 5;
  }
  if (s.PowerCycleMs >= 0) seconds += 35;  // the stage the cycle cut off waits its time-out
  return seconds + 2.0;
}

// Faults after which a real receiver still answers a versions job without a power cycle: none,
// or the flash controller failing (its refusals are true replies, so the resident and the updater
// stay in step and the restart is understood). A reply lost or changed on the line leaves the
// resident in another phase than the updater believes, where a restart may be read as data; the
// firmware's and bootloader's own faults, a dead transmitter, a flipped byte and a dropped line
// leave nothing to check.
bool UsableAfter(const TScenario& s) {
  return !s.Row || s.Row->Site == sim::TFaultSite::FlashController;
}

bool FlashHolds(const std::string& flashPath, const std::string& file) {
  std::ifstream f(flashPath, std::ios::binary), g(file, std::ios::binary);
  const Bytes flash((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const Bytes data((std::istreambuf_iterator<char>(g)), std::istreambuf_iterator<char>());
  const Bytes image = sim::SystemImageOf(data);
  const std::size_t at = sim::FirmwareBase - sim::FlashBase;
  return flash.size() == sim::FlashSize && at + image.size() <= flash.size() &&
         std::equal(image.begin(), image.end(), flash.begin() + at);
}

bool SanitizerReport(const std::string& text) {
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "runtime error:", "WARNING: ThreadSanitizer"})
    if (text.find(mark) != std::string::npos) return true;
  return false;
}

struct TTally {
  int Runs = 0, Successes = 0, FalseSuccesses = 0, MissedSuccesses = 0, Hangs = 0, Unusable = 0,
      Findings = 0, Broken = 0, SecondJobs = 0;

  TTally& operator+=(const TTally& o) {
    Runs += o.Runs, Successes += o.Successes, FalseSuccesses += o.FalseSuccesses;
    MissedSuccesses += o.MissedSuccesses, Hangs += o.Hangs, Unusable += o.Unusable;
    Findings += o.Findings, Broken += o.Broken, SecondJobs += o.SecondJobs;
    return *this;
  }
};

// A power cycle at a moment, unless the job ended first.
class TOperator {
 public:
  TOperator(TSimProcess& sim, int atMs) {
    if (atMs < 0) return;
    thread_ = std::thread([this, &sim, atMs] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!done_.wait_for(lock, std::chrono::milliseconds(atMs), [this] { return ended_; })) {
        sim.Signal(SIGUSR1);
        cycled_ = true;
      }
    });
  }
  ~TOperator() { End(); }
  void End() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    done_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Cycled() const { return cycled_; }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool ended_ = false;
  std::atomic<bool> cycled_{false};
  std::thread thread_;
};

void RunOne(const TScenario& s, int port, TTally& tally, bool verbose) {
  const std::string dir = TempDir() + "/soak-" + std::to_string(s.Seed);
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/fw.bin", flash = dir + "/flash.img";
  sim::TFirmwareSpec spec;
  spec.Size = s.Size;
  spec.Seed = s.Seed;
  spec.Major = "3";
  spec.Minor = "09";
  {
    const Bytes data = sim::MakeSystemFile(spec);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
  }
  std::vector<std::string> simArgs = {
      "--flash", flash, "--protocol", s.Zorp ? "zorp" : "nmea", "--baud", std::to_string(s.Baud)};
  if (!s.Fault.empty()) simArgs.insert(simArgs.end(), {"--fault", s.Fault});
  std::vector<std::string> job = {"program",
                                  "--port",
                                  "COM" + std::to_string(port),
                                  "--file",
                                  file,
                                  "--protocol",
                                  s.Zorp ? "zorp" : "nmea",
                                  "--baud",
                                  std::to_string(s.Baud),
                                  "--reset",
                                  s.Manual ? "manual" : "auto"};
  // The smallest files have no room for a description block: written only on purpose.
  if (s.Size < spec.BlockOffset + 93) job.push_back("--force");
  // A byte that flash loses after the check word was accepted is what only a read-back sees:
  // such a job asks for it, as a careful line would.
  if (s.Row && std::string(s.Row->Name) == "lose") job.push_back("--verify");
  ++tally.Runs;
  std::string verdict;
  try {
    TSimProcess sim(port, simArgs);
    // A manual job needs the operator's power cycle during the countdown.
    TOperator manual(sim, s.Manual ? 1500 : -1);
    TOperator cycle(sim, s.PowerCycleMs);
    const double bound = TimeBound(s);
    std::vector<std::string> args = job;
    if (verbose) args.push_back("--trace");
    TRunResult r = RunProgram(CliPath(), args, static_cast<int>((bound + 60) * 1000));
    if (verbose) {
      // Only the wire's last lines: the whole trace of a large file is megabytes.
      std::size_t at = r.Err.size();
      for (int lines = 0; lines < 12 && at > 0; ++lines) at = r.Err.rfind('\n', at - 1);
      r.Err = r.Err.substr(at == std::string::npos ? 0 : at);
    }
    manual.End();
    cycle.End();
    bool usable = true;
    std::string afterLog;
    const bool checkUsable = UsableAfter(s) && s.Size <= AreaLimit;
    if (checkUsable) {
      // After a power cycle the bootloader waits its ten seconds before the firmware runs.
      if (cycle.Cycled()) std::this_thread::sleep_for(std::chrono::seconds(11));
      // The simulator judges bytes by the line settings when it reads them: on a loaded machine
      // a job that reopened the line at once at its own settings would garble the last bytes of
      // the job before (its restart). No real line does that, so the next job waits a moment.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      TRunResult after =
          RunProgram(CliPath(),
                     {"versions", "--port", "COM" + std::to_string(port), "--protocol",
                      s.Zorp ? "zorp" : "nmea", "--baud", std::to_string(s.Baud)},
                     60000);
      usable = after.Exit == 0;
      afterLog = "versions afterwards:\n" + after.Out + after.Err;
      if (!usable) {
        // Seen only on a heavily loaded machine: counted and shown, and judged by a second job.
        ++tally.SecondJobs;
        verdict += " second-versions-job";
        std::printf("%s: the first versions job afterwards failed:\n%s%s", s.Describe().c_str(),
                    after.Out.c_str(), after.Err.c_str());
        std::this_thread::sleep_for(std::chrono::seconds(2));
        after = RunProgram(CliPath(),
                           {"versions", "--port", "COM" + std::to_string(port), "--protocol",
                            s.Zorp ? "zorp" : "nmea", "--baud", std::to_string(s.Baud)},
                           60000);
        usable = after.Exit == 0;
        afterLog += "second versions job:\n" + after.Out + after.Err;
      }
      if (SanitizerReport(after.Err)) ++tally.Findings, verdict += " sanitizer(versions)";
    }
    const std::string simErr = sim.Stop();
    const bool holds = FlashHolds(flash, file);
    const bool claimed = r.Exit == 0;
    if (claimed) ++tally.Successes;
    if (claimed && !holds) ++tally.FalseSuccesses, verdict += " FALSE-SUCCESS";
    if (!claimed && holds) ++tally.MissedSuccesses, verdict += " missed-success";
    if (r.Seconds > bound) ++tally.Hangs, verdict += " HANG(" + std::to_string(r.Seconds) + " s)";
    if (!usable) ++tally.Unusable, verdict += " UNUSABLE";
    if (SanitizerReport(r.Err) || SanitizerReport(simErr))
      ++tally.Findings, verdict += " SANITIZER";
    const bool faulty = verdict.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos;
    if (verbose || faulty)
      std::printf("%s -> exit %d in %.1f s%s\n", s.Describe().c_str(), r.Exit, r.Seconds,
                  verdict.c_str());
    // A fault found is shown with what both programs said, so that a run seen once on a loaded
    // machine can be read afterwards (the wire trace only with --verbose: it is long).
    if (faulty)
      std::printf("%s%s%s%s\n", r.Out.c_str(), r.Err.c_str(), afterLog.c_str(), simErr.c_str());
  } catch (const std::exception& e) {
    ++tally.Broken;
    std::printf("%s -> the simulator did not start: %s\n", s.Describe().c_str(), e.what());
  }
  std::fflush(stdout);
  std::filesystem::remove_all(dir);
}

void Report(const TTally& tally, std::uint32_t first, int seeds,
            std::chrono::steady_clock::time_point start) {
  const double minutes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;
  std::printf(
      "soak: %d runs (seeds %u to %u, %zu fault kinds) in %.1f min: %d successes, %d false "
      "successes, %d failures over a written flash, %d hangs, %d unusable afterwards, %d sanitizer "
      "findings, %d runs that could not start, %d runs whose first versions job afterwards "
      "failed\n",
      tally.Runs, first, first + static_cast<std::uint32_t>(seeds) - 1, sim::FaultTable().size(),
      minutes, tally.Successes, tally.FalseSuccesses, tally.MissedSuccesses, tally.Hangs,
      tally.Unusable, tally.Findings, tally.Broken, tally.SecondJobs);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 40, jobs = 1;
  std::uint32_t first = 1, maxSize = AreaLimit;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](long max) -> long {
      char* end = nullptr;
      const long v = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : -1;
      if (!end || *end != '\0' || v < 1 || v > max) {
        std::fprintf(stderr, "zv8810-soak: %s takes a number from 1 to %ld\n", arg.c_str(), max);
        std::exit(64);
      }
      return v;
    };
    if (arg == "--seeds")
      seeds = static_cast<int>(number(1000000));
    else if (arg == "--first")
      first = static_cast<std::uint32_t>(number(1L << 31));
    else if (arg == "--jobs")
      jobs = static_cast<int>(number(16));
    else if (arg == "--max-size")
      maxSize = static_cast<std::uint32_t>(number(AreaLimit));
    else if (arg == "--verbose")
      verbose = true;
    else if (arg == "--only" && i + 1 < argc)
      OnlyFault = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: zv8810-soak [--seeds N] [--first SEED] [--max-size BYTES] [--jobs N] "
                   "[--verbose] [--only FAULT]\n");
      return 64;
    }
  }
  if (!OnlyFault.empty()) {
    const auto& table = sim::FaultTable();
    if (std::none_of(table.begin(), table.end(),
                     [](const sim::TFaultRow& row) { return OnlyFault == row.Name; })) {
      std::fprintf(stderr, "zv8810-soak: --only takes a fault of zv8810-sim's table, not %s\n",
                   OnlyFault.c_str());
      return 64;
    }
  }
  setenv("XDG_DATA_HOME", TempDir().c_str(), 1);
  TTally tally;
  const auto start = std::chrono::steady_clock::now();
  // Each job takes the next seed until none is left; the tally and the reports are shared.
  std::atomic<int> next{0};
  std::mutex tallyLock;
  auto work = [&](int port) {
    for (int i; (i = next++) < seeds;) {
      TTally one;
      RunOne(Draw(first + static_cast<std::uint32_t>(i), maxSize), port, one, verbose);
      std::lock_guard<std::mutex> lock(tallyLock);
      tally += one;
      if (jobs == 1 && tally.Runs % 25 == 0 && tally.Runs < seeds)
        Report(tally, first, tally.Runs, start);
    }
  };
  std::vector<std::thread> workers;
  for (int j = 0; j < std::min(jobs, seeds); ++j) workers.emplace_back(work, FirstPort + j);
  for (std::thread& worker : workers) worker.join();
  Report(tally, first, seeds, start);
  std::system(("rm -rf '" + TempDir() + "'").c_str());
  const bool ok = tally.FalseSuccesses == 0 && tally.Hangs == 0 && tally.Unusable == 0 &&
                  tally.Findings == 0 && tally.Broken == 0;
  return ok ? 0 : 1;
}
