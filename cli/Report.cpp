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

void WriteIdentity(TJsonWriter& json, const TReceiverIdentity& identity) {
  if (!identity.Known()) {
    json.Null();
    return;
  }
  json.BeginObject()
      .Key("module_number")
      .String(identity.ModuleNumber)
      .Key("module_id")
      .String(identity.ModuleId)
      .Key("production_date")
      .String(identity.ProductionDate)
      .Key("device_id")
      .String(identity.DeviceId)
      .EndObject();
}

std::string IdentityText(const TReceiverIdentity& identity) {
  if (!identity.Known()) return "";
  std::string text;
  auto add = [&](const char* name, const std::string& value) {
    if (value.empty()) return;
    if (!text.empty()) text += ", ";
    text += std::string(name) + " " + value;
  };
  add(Tr("модуль №", "module"), identity.ModuleNumber);
  add("id", identity.ModuleId);
  add(Tr("изготовлен", "made"), identity.ProductionDate);
  add(Tr("устройство", "device"), identity.DeviceId);
  return text;
}

void WriteFileFacts(TJsonWriter& json, const TSystemFileFacts& facts, bool forced) {
  const TFileDescription& d = facts.Description;
  json.BeginObject().Key("path").String(facts.Path);
  json.Key("size")
      .Integer(static_cast<std::int64_t>(facts.Size))
      .Key("sum")
      .String(SumText(facts.Sum));
  json.Key("description");
  if (!d.Present) {
    json.Null();
  } else {
    json.BeginObject()
        .Key("device")
        .String(d.Device)
        .Key("version")
        .String(d.Version)
        .Key("date")
        .String(d.Date)
        .Key("time")
        .String(d.Time)
        .Key("comment")
        .String(d.Comment)
        .EndObject();
  }
  json.Key("forced").Bool(forced);
  json.EndObject();
}

void WriteFileObject(TJsonWriter& json, const std::string& path, const TCheckedFile* checked) {
  if (path.empty()) {
    json.Null();
    return;
  }
  if (checked != nullptr && checked->Bytes) {
    WriteFileFacts(json, checked->Facts, checked->Forced);
    return;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    json.BeginObject().Key("path").String(path);
    json.Key("size").Null().Key("sum").Null().Key("description").Null();
    json.Key("forced").Bool(false).EndObject();
    return;
  }
  WriteFileFacts(json, SystemFileFacts(path, bytes), false);
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

void WriteDeviceObject(TJsonWriter& json, TPortJob& job, const std::string* finished,
                       const TCheckedFile* file) {
  auto j = job.Job();
  json.BeginObject();
  json.Key("port").String(job.Given());
  json.Key("device").String(job.Device().empty() ? job.Given() : job.Device());
  json.Key("ok").Bool(job.Exit() == ExitSuccess);
  json.Key("exit").Integer(job.Exit());
  json.Key("result");
  // A port lost after the check word was accepted leaves a written receiver: the job succeeded
  // and its result is the stage's code; the message still says the port went away.
  if ((job.Stopped() || job.PortLost()) && job.Exit() != ExitSuccess)
    json.String("stopped");
  else if (auto result = job.Result())
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
  json.Key("receiver");
  WriteIdentity(json, j ? j->Identity : TReceiverIdentity{});
  json.Key("firmware_complete");
  if (j && j->FirmwareComplete >= 0)
    json.Bool(j->FirmwareComplete == 1);
  else
    json.Null();
  json.Key("backup_damaged").Bool(j && j->BackupDamaged);
  if (file != nullptr) {
    json.Key("file");
    WriteFileFacts(json, file->Facts, file->Forced);
  }
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
