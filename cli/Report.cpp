#include "cli/Report.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "appdata/DMU.h"
#include "cli/ExitCodes.h"
#include "platform/VersionInfo.h"

namespace {

// A text field of the description block: up to its first zero byte, blanks trimmed.
std::string Field(const std::uint8_t* block, std::size_t offset, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && block[offset + i] != 0; ++i)
    text.push_back(static_cast<char>(block[offset + i]));
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

void WriteVersion(TJsonWriter& json, const TVersionInfo& info, bool withTime) {
  if (info.Number.empty()) {
    json.Null();
    return;
  }
  json.BeginObject().Key("version").String(info.Number).Key("date").String(info.Date);
  if (withTime) json.Key("time").String(info.Time);
  json.EndObject();
}

// Creates and removes a file in the folder: the surest test that it can be written.
bool FolderWritable(const std::string& folder, std::string& reason) {
  const std::string probe = folder + "/.zv8810-fwu-probe-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(probe.c_str(), "wb");
  if (file == nullptr) {
    reason = folder + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(file);
  std::remove(probe.c_str());
  return true;
}

}  // namespace

void WriteFileObject(TJsonWriter& json, const std::string& path) {
  if (path.empty()) {
    json.Null();
    return;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  json.BeginObject().Key("path").String(path);
  if (!in.good() && !in.eof()) {
    json.Key("size").Null().Key("sum").Null().Key("description").Null().EndObject();
    return;
  }
  char sum[16];
  std::snprintf(sum, sizeof sum, "0x%08X", ByteSum(bytes.data(), bytes.size()));
  json.Key("size").Integer(static_cast<std::int64_t>(bytes.size())).Key("sum").String(sum);
  json.Key("description");
  const std::int32_t at = FindText(bytes.data(), bytes.size(), DescriptionMarker);
  if (at < 0 || bytes.size() - static_cast<std::size_t>(at) < DescriptionBlockSize) {
    json.Null();
  } else {
    const std::uint8_t* block = bytes.data() + at;
    json.BeginObject()
        .Key("device")
        .String(Field(block, 20, 6))
        .Key("version")
        .String(Field(block, 26, 3) + "." + Field(block, 29, 3))
        .Key("date")
        .String(Field(block, 32, 12))
        .Key("time")
        .String(Field(block, 44, 9))
        .Key("comment")
        .String(Field(block, 53, 30))
        .EndObject();
  }
  json.EndObject();
}

std::string ResultWord(TPortJob& job) {
  if (job.Stopped()) return "stopped";
  return job.Exit() == ExitSuccess ? "ok" : "exit " + std::to_string(job.Exit());
}

std::string FirmwareWord(TPortJob& job) {
  auto j = job.Job();
  if (!j || j->ReceiverVersions.Firmware.Number.empty()) return "-";
  return j->ReceiverVersions.Firmware.Number;
}

void WriteDeviceObject(TJsonWriter& json, TPortJob& job, const std::string* finished) {
  auto j = job.Job();
  json.BeginObject();
  json.Key("port").String(job.Given());
  json.Key("device").String(job.Device().empty() ? job.Given() : job.Device());
  json.Key("ok").Bool(job.Exit() == ExitSuccess);
  json.Key("exit").Integer(job.Exit());
  json.Key("result");
  if (auto result = job.Result())
    json.Integer(*result);
  else
    json.Null();
  json.Key("message").String(job.FinalMessage());
  json.Key("versions").BeginObject().Key("bootloader");
  if (j) {
    WriteVersion(json, j->ReceiverVersions.Boot, false);
    json.Key("firmware");
    WriteVersion(json, j->ReceiverVersions.Firmware, true);
  } else {
    json.Null().Key("firmware").Null();
  }
  json.EndObject();
  json.Key("verified");
  if (j && j->Verified >= 0)
    json.Bool(j->Verified == 1);
  else
    json.Null();
  json.Key("backup");
  if (j && !j->BackupPath.empty())
    json.String(j->BackupPath);
  else
    json.Null();
  json.Key("seconds").Number(job.Seconds());
  if (finished != nullptr) json.Key("finished").String(*finished);
  json.Key("log").BeginArray();
  for (const std::string& line : job.Log()) json.String(line);
  json.EndArray();
  json.EndObject();
}

bool CheckOutputs(const TCliOptions& options, std::string& reason) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!options.BackupDir.empty()) {
    fs::create_directories(options.BackupDir, ec);
    if (!fs::is_directory(options.BackupDir)) {
      reason = "--backup " + options.BackupDir + ": " +
               (ec ? ec.message() : std::string("not a folder"));
      return false;
    }
    if (!FolderWritable(options.BackupDir, reason)) {
      reason = "--backup " + reason;
      return false;
    }
  }
  if (!options.Report.empty()) {
    const fs::path report(options.Report);
    if (fs::is_directory(report)) {
      reason = "--report " + options.Report + ": is a folder, not a file";
      return false;
    }
    const std::string folder =
        report.parent_path().empty() ? std::string(".") : report.parent_path().string();
    if (!fs::is_directory(folder)) {
      reason = "--report " + options.Report + ": the folder " + folder + " does not exist";
      return false;
    }
    if (!FolderWritable(folder, reason)) {
      reason = "--report " + reason;
      return false;
    }
    if (fs::exists(report) && ::access(options.Report.c_str(), W_OK) != 0) {
      reason = "--report " + options.Report + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}
