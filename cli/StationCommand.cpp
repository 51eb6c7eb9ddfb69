// station: the factory mode. It watches the port list and programs each receiver whose port
// appears after it started, in parallel, once: a port that stays connected is programmed again
// only after it went away and came back.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/LineOutput.h"
#include "cli/PortJob.h"
#include "cli/Report.h"
#include "platform/ComRegistry.h"

namespace {

constexpr int PollMs = 300;  // how often the port list is read

// A port as the list shows it: its name and the device behind it. A receiver that is plugged in
// again (or a new one on the same adapter) shows up as an entry that was missing before.
std::string KeyOf(const plat::TPortEntry& entry) {
  return entry.Name + "=" + entry.Device;
}

// The name that stays with a fixture across plugging order: its /dev/serial/by-id or by-path
// link, when one leads to the device; otherwise the COM name.
std::string StableName(const plat::TPortEntry& entry) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path device = fs::canonical(entry.Device, ec);
  if (ec) return entry.Name;
  for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code linkError;
      if (fs::canonical(it->path(), linkError) == device && !linkError) return it->path().string();
    }
  }
  return entry.Name;
}

// Appends one line to the JSON-lines report in a single write, so lines never mix.
bool AppendLine(const std::string& path, const std::string& line, std::string& reason) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  const std::string text = line + "\n";
  std::setvbuf(file, nullptr, _IOFBF, text.size() + 1);  // the whole line in one write
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) reason = std::strerror(errno);
  return ok;
}

struct TStationJob {
  std::string key;
  std::unique_ptr<TLogPrinter> printer;
  std::shared_ptr<TPortJob> job;
};

}  // namespace

int RunStation(const TCliOptions& options) {
  std::string reason;
  if (!CheckOutputs(options, reason)) {
    std::fprintf(stderr, "zv8810-fwu: %s\n", reason.c_str());
    return ExitCantCreate;
  }
  if (std::FILE* file = std::fopen(options.File.c_str(), "rb")) {
    std::fclose(file);
  } else {
    std::fprintf(stderr, "zv8810-fwu: %s: %s\n", options.File.c_str(), std::strerror(errno));
    return ExitNoInput;
  }

  TCallQueue queue;
  TDM dm;
  TJobMessages messages;
  TLineOutput output(stdout, false);
  std::set<std::string> present;
  for (const plat::TPortEntry& entry : plat::ListPortEntries()) present.insert(KeyOf(entry));
  std::fprintf(stderr,
               "zv8810-fwu: station: %zu ports present; programming every receiver plugged in "
               "from now on (Ctrl+C ends)\n",
               present.size());

  std::map<std::string, TStationJob> running;
  int succeeded = 0, failed = 0;
  bool stopping = false;
  auto lastPoll = std::chrono::steady_clock::now() - std::chrono::milliseconds(PollMs);

  auto poll = [&] {
    std::set<std::string> now;
    for (const plat::TPortEntry& entry : plat::ListPortEntries()) {
      const std::string key = KeyOf(entry);
      now.insert(key);
      if (present.count(key) || running.count(key)) continue;
      TStationJob started;
      started.key = key;
      const std::string shown = StableName(entry);
      started.printer = std::make_unique<TLogPrinter>(stdout, false);
      // The job's log goes into the report, not onto the tally's output.
      started.printer->ShareOutput(
          "[" + shown + "] ", [](const std::string&) {}, nullptr);
      started.job =
          std::make_shared<TPortJob>(queue, dm, *started.printer, shown, "[" + shown + "] ");
      TResolvedPort port;
      port.Number = entry.Number;
      port.Name = entry.Name;
      port.Device = entry.Device;
      auto job = started.job;
      running.emplace(key, std::move(started));
      job->Start(options, port);
    }
    present = std::move(now);
  };

  auto collect = [&] {
    for (auto it = running.begin(); it != running.end();) {
      TPortJob& job = *it->second.job;
      if (!job.Done()) {
        ++it;
        continue;
      }
      job.Close();
      (job.Exit() == ExitSuccess ? succeeded : failed) += 1;
      char line[512];
      std::snprintf(line, sizeof line, "%s  %s  %s  %.1f s", job.Given().c_str(),
                    ResultWord(job).c_str(), FirmwareWord(job).c_str(), job.Seconds());
      output.Line(line);
      output.Line(std::to_string(succeeded) + " done, " + std::to_string(failed) + " failed");
      if (!options.Report.empty()) {
        TJsonWriter json;
        const std::string finished = IsoTime(std::time(nullptr));
        WriteDeviceObject(json, job, &finished);
        if (!AppendLine(options.Report, json.Text(), reason))
          std::fprintf(stderr, "zv8810-fwu: the report %s could not be written: %s\n",
                       options.Report.c_str(), reason.c_str());
      }
      it = running.erase(it);
    }
  };

  queue.RunUntil([&] {
    if (Interrupted() && !stopping) {
      stopping = true;
      for (auto& [key, entry] : running) entry.job->RequestStop();
    }
    collect();
    if (stopping) return running.empty();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPoll >= std::chrono::milliseconds(PollMs)) {
      lastPoll = now;
      poll();
    }
    return false;
  });
  return failed == 0 ? ExitSuccess : ExitNothingAchieved;
}
