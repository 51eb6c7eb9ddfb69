// history: the records of the jobs, newest first, from the local file or the plant's server (with
// the records still kept locally for it); as a table, JSON or CSV. --sync moves the records kept
// locally to the server.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/JsonWriter.h"
#include "history/HistoryStore.h"
#include "history/Schema.h"

namespace {

std::string ResultWord(const hist::TJobRecord& r) {
  if (r.Stopped) return "stopped";
  return r.Ok ? "ok" : "exit " + std::to_string(r.ExitStatus);
}

// "2026-12-10T15:50:34+01:00" as "2026-12-10 15:50:34".
std::string ShortTime(const std::string& iso) {
  std::string text = iso.substr(0, 19);
  if (text.size() > 10 && text[10] == 'T') text[10] = ' ';
  return text;
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

void PrintTable(const std::vector<hist::TJobRecord>& records) {
  const std::vector<std::string> head = {"started", "station", "command",  "port",   "receiver",
                                         "file",    "result",  "firmware", "message"};
  std::vector<std::vector<std::string>> rows;
  bool anyPending = false;
  for (const hist::TJobRecord& r : records) {
    std::string file = "-";
    if (!r.FileSum.empty()) file = (r.FileVersion.empty() ? "" : r.FileVersion + " ") + r.FileSum;
    std::string result = ResultWord(r);
    if (!r.PendingServer.empty()) {
      result += " *";
      anyPending = true;
    }
    // The firmware the job found, and the one it left ("3.05 -> 3.09" when both are known).
    std::string firmware = r.FirmwareBefore;
    if (!r.FirmwareAfter.empty()) firmware += (firmware.empty() ? "" : " -> ") + r.FirmwareAfter;
    rows.push_back({ShortTime(r.Started), OrDash(r.Station), r.Command, OrDash(r.Port),
                    OrDash(r.ReceiverNumber), file, result, OrDash(firmware), r.Message});
  }
  std::vector<std::size_t> width(head.size());
  for (std::size_t c = 0; c < head.size(); ++c) {
    width[c] = head[c].size();
    for (const auto& row : rows) width[c] = std::max(width[c], row[c].size());
  }
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  };
  print(head);
  for (const auto& row : rows) print(row);
  if (anyPending)
    std::printf(
        "\n* kept on this computer until the server can be reached: "
        "zv8810-fwu history --sync\n");
}

// Every column under its own name, as the database keeps it; the log as an array of lines.
void PrintJson(const std::vector<hist::TJobRecord>& records) {
  TJsonWriter json;
  json.BeginArray();
  for (const hist::TJobRecord& r : records) {
    json.BeginObject();
    for (const hist::TColumn& column : hist::Columns()) {
      const std::string name = column.Name;
      json.Key(name);
      if (name == "log") {
        json.BeginArray();
        for (const std::string& line : r.Log) json.String(line);
        json.EndArray();
        continue;
      }
      const hist::TValue value = column.Get(r);
      const bool flag = name == "ok" || name == "stopped" || name == "forced" || name == "verified";
      if (auto* i = std::get_if<std::int64_t>(&value)) {
        if (flag)
          json.Bool(*i != 0);
        else
          json.Integer(*i);
      } else if (auto* d = std::get_if<double>(&value)) {
        json.Number(*d);
      } else if (auto* s = std::get_if<std::string>(&value)) {
        json.String(*s);
      } else {
        json.Null();
      }
    }
    json.EndObject();
  }
  json.EndArray();
  std::printf("%s\n", json.Text().c_str());
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void PrintCsv(const std::vector<hist::TJobRecord>& records) {
  std::string line;
  for (const hist::TColumn& column : hist::Columns())
    line += (line.empty() ? "" : ",") + std::string(column.Name);
  std::printf("%s\r\n", line.c_str());
  for (const hist::TJobRecord& r : records) {
    line.clear();
    bool first = true;
    for (const hist::TColumn& column : hist::Columns()) {
      if (!first) line += ",";
      first = false;
      const hist::TValue value = column.Get(r);
      if (auto* i = std::get_if<std::int64_t>(&value)) {
        line += std::to_string(*i);
      } else if (auto* d = std::get_if<double>(&value)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", *d);
        std::string number = text;
        std::replace(number.begin(), number.end(), ',', '.');  // whatever the locale says
        line += number;
      } else if (auto* s = std::get_if<std::string>(&value)) {
        line += CsvField(*s);
      }
    }
    std::printf("%s\r\n", line.c_str());
  }
}

bool NewerFirst(const hist::TJobRecord& a, const hist::TJobRecord& b) {
  return a.StartedUtc > b.StartedUtc;
}

}  // namespace

int RunHistory(const TCliOptions& options) {
  const hist::THistoryTarget target = hist::ResolveTarget(options.History);
  std::string error;
  if (options.Sync) {
    if (target.Server.empty()) {
      std::fprintf(stderr,
                   "zv8810-fwu: history --sync needs the server: --history postgresql://... or "
                   "ZV8810_HISTORY\n");
      return ExitUsage;
    }
    std::int64_t moved = 0;
    if (!std::filesystem::exists(target.LocalPath)) {
      std::printf("0 records to move: %s does not exist\n", target.LocalPath.c_str());
      return ExitSuccess;
    }
    if (!hist::SyncPending(target, moved, error)) {
      std::fprintf(stderr, "zv8810-fwu: history --sync: %s\n", error.c_str());
      std::fprintf(stderr, "zv8810-fwu: the records stay in %s; run --sync again later\n",
                   target.LocalPath.c_str());
      return ExitUnavailable;
    }
    std::printf("%lld record%s moved from %s to %s\n", static_cast<long long>(moved),
                moved == 1 ? "" : "s", target.LocalPath.c_str(),
                hist::ShownAddress(target.Server).c_str());
    return ExitSuccess;
  }

  hist::TFilter filter;
  filter.Receiver = options.Receiver;
  filter.FileSum = options.FileSum;
  filter.Station = options.StationName;
  if (options.HasSince) filter.SinceUtc = options.SinceUtc;
  filter.FailedOnly = options.Failed;
  filter.Limit = options.Limit;

  std::vector<hist::TJobRecord> records;
  // The local file is read when it exists: alone, or for the records it keeps for the server.
  const bool localExists = std::filesystem::exists(target.LocalPath);
  if (!target.Server.empty()) {
    auto server = hist::OpenPostgres(target.Server, error);
    if (!server || !server->Query(filter, records, error)) {
      std::fprintf(stderr, "zv8810-fwu: %s\n", error.c_str());
      return ExitUnavailable;
    }
  }
  if (localExists) {
    hist::TFilter local = filter;
    local.PendingOnly = !target.Server.empty();
    std::vector<hist::TJobRecord> kept;
    auto file = hist::OpenSqlite(target.LocalPath, error);
    if (!file || !file->Query(local, kept, error)) {
      std::fprintf(stderr, "zv8810-fwu: %s\n", error.c_str());
      return ExitUnavailable;
    }
    records.insert(records.end(), kept.begin(), kept.end());
    std::stable_sort(records.begin(), records.end(), NewerFirst);
    if (filter.Limit > 0 && static_cast<std::int64_t>(records.size()) > filter.Limit)
      records.resize(static_cast<std::size_t>(filter.Limit));
  }

  if (options.Json) {
    PrintJson(records);
  } else if (options.Csv) {
    PrintCsv(records);
  } else if (records.empty()) {
    std::fprintf(stderr, "No records in %s.\n",
                 target.Server.empty() ? target.LocalPath.c_str()
                                       : hist::ShownAddress(target.Server).c_str());
  } else {
    PrintTable(records);
  }
  return ExitSuccess;
}
