// station: the factory mode. The system file is read, checked and summed once, at start. Without
// --fixture it watches the port list and programs each receiver whose port appears after it
// started, in parallel, once: a port that stays connected is programmed again only after it went
// away and came back (also when it came back within one look at the list: the device behind the
// name is watched, not only the name). With --fixture the listed ports stay plugged in and the
// receivers are swapped on them: each port is polled with the session's own rules, and a
// receiver that starts answering after a silence is programmed once.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/Interrupt.h"
#include "cli/JobHistory.h"
#include "cli/LineOutput.h"
#include "cli/PortArgument.h"
#include "cli/PortJob.h"
#include "cli/Report.h"
#include "platform/ComRegistry.h"
#include "platform/Terminal.h"
#include "receiver/NavReceiverExU.h"

namespace {

constexpr int PollMs = 300;          // how often the port list is read
constexpr int FixturePollMs = 1000;  // how often a fixture's idle port is polled
constexpr int FixtureVerdictMs = 2 * SessionTimeoutMs + 2000;  // a poll that never ends

// What stays the same while one device sits behind a name, and changes when it is plugged again
// however fast: the device node's identity and, for an alias, the link's own.
std::string DeviceStamp(const plat::TPortEntry& entry) {
  std::string stamp;
#ifndef _WIN32
  struct stat info {};
  if (::stat(entry.Device.c_str(), &info) == 0)
    stamp += ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_rdev);
  const std::string alias = plat::AliasFolder() + "/" + entry.Name;
  if (::lstat(alias.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    stamp += ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
             std::to_string(info.st_ctim.tv_nsec);
#else
  (void)entry;  // a replug on Windows shows as the name going away and coming back
#endif
  return stamp;
}

// A port as the list shows it: its name, the device behind it and the device's identity.
std::string KeyOf(const plat::TPortEntry& entry) {
  return entry.Name + "=" + entry.Device + DeviceStamp(entry);
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

// The banner: what every receiver of this station gets.
void PrintBanner(const TCheckedFile& file) {
  const TFileDescription& d = file.Facts.Description;
  std::fprintf(stderr,
               "zv8810-fwu: station: file %s, %llu bytes, sum %s, version %s, device %s%s\n",
               file.Facts.Path.c_str(), static_cast<unsigned long long>(file.Facts.Size),
               SumText(file.Facts.Sum).c_str(), d.Present ? d.Version.c_str() : "-",
               d.Present ? d.Device.c_str() : "-",
               file.Forced ? " (no description block: written because of --force)" : "");
}

// "[COM7] Programming - 45%  (12 s)": a receiver's live status line.
std::string StatusLine(TPortJob& job) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "  (%.0f s)", job.Seconds());
  return "[" + job.Given() + "] " + job.CurrentLine() + seconds;
}

struct TStationJob {
  std::string name;  // the port's COM name
  std::string key;   // the port as it was when the job started
  std::unique_ptr<TLogPrinter> printer;
  std::shared_ptr<TPortJob> job;
};

// A fixture's port: polled in the receiver's working protocol while no job runs on it.
struct TFixturePort {
  TResolvedPort port;
  std::string shown;
  bool answering = false;  // the last poll was answered (the receiver there was seen)
  std::shared_ptr<TNavReceiver> session;
  std::chrono::steady_clock::time_point polled{};
  std::atomic<int> verdict{0};  // 0 waiting, 1 answered, 2 silent or lost

  ~TFixturePort() { Release(); }
  void Connected(TNavReceiver*) { verdict = 1; }
  void NoAnswer(TNavReceiver*) { verdict = 2; }
  void Lost(TPortIO*) { verdict = 2; }
  void Release() {
    if (!session) return;
    session->OnConnected.Clear();
    session->OnNoAnswer.Clear();
    session->Port().OnLost.Clear();
    session.reset();  // closes the port
  }
};

}  // namespace

int RunStation(const TCliOptions& options) {
  std::string reason;
  if (!CheckOutputs(options, reason)) {
    std::fprintf(stderr, "zv8810-fwu: %s\n", reason.c_str());
    return ExitCantCreate;
  }
  // The fixture's ports are resolved before anything else: a name that is no port is a usage
  // error.
  std::vector<std::unique_ptr<TFixturePort>> fixture;
  for (const std::string& given : options.Ports) {
    auto port = std::make_unique<TFixturePort>();
    int exitCode = 0;
    if (!ResolvePortOrReport(given, port->port, exitCode)) return exitCode;
    for (auto& other : fixture)
      if (other->port.Number == port->port.Number) {
        std::fprintf(stderr, "zv8810-fwu: --port %s and --port %s are the same port (%s)\n",
                     other->shown.c_str(), given.c_str(), port->port.Name.c_str());
        return ExitUsage;
      }
    port->shown = given;
    fixture.push_back(std::move(port));
  }

  // The file is read, checked and summed once: every receiver gets these bytes, whatever
  // happens to the file while the station runs.
  TDM dm;
  TCheckedFile file;
  if (int refused = CheckFileArgument(dm, options, true, file); refused != ExitSuccess)
    return refused;
  PrintBanner(file);

  TCallQueue queue;
  TJobMessages messages;
  TLineOutput output(stdout, plat::IsTerminal(stdout));
  // Each port name with the key of the device last seen (or programmed) behind it.
  std::map<std::string, std::string> seen;
  if (fixture.empty()) {
    for (const plat::TPortEntry& entry : plat::ListPortEntries()) seen[entry.Name] = KeyOf(entry);
    std::fprintf(stderr,
                 "zv8810-fwu: station: %zu ports present; programming every receiver plugged in "
                 "from now on (Ctrl+C ends)\n",
                 seen.size());
  } else {
    std::string names;
    for (auto& port : fixture) names += (names.empty() ? "" : ", ") + port->shown;
    std::fprintf(stderr,
                 "zv8810-fwu: station: fixture %s; programming each receiver that starts "
                 "answering (Ctrl+C ends)\n",
                 names.c_str());
  }

  TJobHistory history(options, "station", &file);
  std::map<std::string, TStationJob> running;  // by port name
  int succeeded = 0, failed = 0;
  bool stopping = false;
  auto lastPoll = std::chrono::steady_clock::now() - std::chrono::milliseconds(PollMs);

  auto start = [&](const std::string& key, const TResolvedPort& port, const std::string& shown) {
    TStationJob started;
    started.name = port.Name;
    started.key = key;
    started.printer = std::make_unique<TLogPrinter>(stdout, false);
    // The job's log goes into the report, not onto the tally's output.
    started.printer->ShareOutput(
        "[" + shown + "] ", [](const std::string&) {}, nullptr);
    started.job =
        std::make_shared<TPortJob>(queue, dm, *started.printer, shown, "[" + shown + "] ");
    if (output.Terminal()) {
      // Error lines share the terminal with the live status lines.
      started.job->SetErrorOut([&output](const std::string& line) { output.LineTo(stderr, line); });
      output.Line(shown + "  found");
    }
    auto job = started.job;
    running.emplace(port.Name, std::move(started));
    job->Start(options, port, file.Images);
  };

  auto pollList = [&] {
    std::set<std::string> names;
    for (const plat::TPortEntry& entry : plat::ListPortEntries()) {
      names.insert(entry.Name);
      // A port whose job still runs is looked at again once the job has ended.
      if (running.count(entry.Name)) continue;
      const std::string key = KeyOf(entry);
      if (auto it = seen.find(entry.Name); it != seen.end() && it->second == key) continue;
      seen[entry.Name] = key;
      TResolvedPort port;
      port.Number = entry.Number;
      port.Name = entry.Name;
      port.Device = entry.Device;
      start(key, port, StableName(entry));
    }
    for (auto it = seen.begin(); it != seen.end();)
      it = names.count(it->first) || running.count(it->first) ? std::next(it) : seen.erase(it);
  };

  auto pollFixture = [&] {
    const auto now = std::chrono::steady_clock::now();
    for (auto& f : fixture) {
      if (running.count(f->port.Name)) continue;  // a poll never disturbs a running job
      if (f->session) {
        const int verdict = f->verdict.load();
        const bool overdue = now - f->polled > std::chrono::milliseconds(FixtureVerdictMs);
        if (verdict == 0 && !overdue) continue;
        f->Release();
        if (verdict == 1) {
          if (!f->answering) {  // answering after a silence: a new receiver
            f->answering = true;
            start(f->port.Name, f->port, f->shown);
          }
        } else {
          f->answering = false;  // taken out of the fixture (or never there)
        }
        f->polled = now;
        continue;
      }
      if (now - f->polled < std::chrono::milliseconds(FixturePollMs)) continue;
      f->polled = now;
      f->verdict = 0;
      f->session = std::make_shared<TNavReceiver>();
      f->session->SetTimeout(SessionTimeoutMs);
      f->session->OnConnected.Bind<&TFixturePort::Connected>(f.get());
      f->session->OnNoAnswer.Bind<&TFixturePort::NoAnswer>(f.get());
      f->session->Port().OnLost.Bind<&TFixturePort::Lost>(f.get());
      plat::TPortEntry entry;
      entry.Number = f->port.Number;
      entry.Name = f->port.Name;
      entry.Device = f->port.Device;
      f->session->Connect(entry, options.Baud,
                          options.Protocol == "ZORP" ? ProtocolZorp : ProtocolNmea);
      if (!f->session->Opened()) f->verdict = 2;  // an adapter that is not there is silent
    }
  };

  auto collect = [&] {
    for (auto it = running.begin(); it != running.end();) {
      TPortJob& job = *it->second.job;
      if (!job.Done()) {
        ++it;
        continue;
      }
      job.Close();
      history.Record(job, "[" + job.Given() + "] ");
      const bool ok = job.Exit() == ExitSuccess;
      (ok ? succeeded : failed) += 1;
      char line[512];
      std::snprintf(line, sizeof line, "%s  %s  %s  %.1f s", job.Given().c_str(),
                    ResultWord(job).c_str(), FirmwareWord(job).c_str(), job.Seconds());
      std::string text = line;
      if (auto j = job.Job(); j && j->Identity.Known()) text += "  " + IdentityText(j->Identity);
      if (!ok && !job.FinalMessage().empty()) text += "  " + job.FinalMessage();
      output.Line(text);
      output.Line(std::to_string(succeeded) + " done, " + std::to_string(failed) + " failed");
      if (!options.Report.empty()) {
        TJsonWriter json;
        const std::string finished = IsoTime(std::time(nullptr));
        WriteDeviceObject(json, job, &finished, &file);
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
      for (auto& [name, entry] : running) entry.job->RequestStop();
      for (auto& f : fixture) f->Release();
    }
    collect();
    if (output.Terminal()) {
      std::vector<std::string> status;
      for (auto& [name, entry] : running)
        if (!entry.job->Done()) status.push_back(StatusLine(*entry.job));
      output.Status(status);
    }
    if (stopping) return running.empty();
    if (!fixture.empty()) {
      pollFixture();
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPoll >= std::chrono::milliseconds(PollMs)) {
      lastPoll = now;
      pollList();
    }
    return false;
  });
  output.ClearStatus();
  return failed == 0 ? ExitSuccess : ExitNothingAchieved;
}
