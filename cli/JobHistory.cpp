#include "cli/JobHistory.h"

#include <cmath>
#include <cstdio>

#include "appdata/FileCheck.h"
#include "cli/ExitCodes.h"
#include "cli/IsoTime.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "platform/AdapterInfo.h"

namespace {

std::string UsbIdentity(const std::string& device) {
  if (device.empty()) return "";
  const plat::TAdapterInfo info = plat::ReadAdapterInfo(device);
  if (!info.Usb) return "";
  std::string identity = info.VendorId + ":" + info.ProductId;
  const std::string product = info.Product.empty() ? info.Manufacturer : info.Product;
  if (!product.empty()) identity += " " + product;
  if (!info.Serial.empty()) identity += " serial " + info.Serial;
  return identity;
}

}  // namespace

TJobHistory::TJobHistory(const TCliOptions& options, std::string command, const TCheckedFile* file)
    : command_(std::move(command)),
      reset_(options.ResetAuto ? "auto" : "manual"),
      protocol_(options.Protocol),
      rate_(options.Baud) {
  if (!options.NoHistory)
    writer_ = std::make_unique<hist::THistoryWriter>(
        hist::ResolveTarget(options.History),
        [](const std::string& prefix, const std::string& text) {
          std::fprintf(stderr, "%szv8810-fwu: history: %s\n", prefix.c_str(), text.c_str());
        });
  if (file == nullptr) return;
  file_.Path = file->Facts.Path.empty() ? options.File : file->Facts.Path;
  file_.Forced = file->Forced;
  if (!file->Bytes) return;  // not read: the job says why
  file_.Size = static_cast<std::int64_t>(file->Facts.Size);
  file_.Sum = SumText(file->Facts.Sum);
  if (file->Facts.Description.Present) {
    file_.Version = file->Facts.Description.Version;
    file_.Device = file->Facts.Description.Device;
  }
}

TJobHistory::~TJobHistory() = default;

void TJobHistory::Record(TPortJob& job, const std::string& prefix) {
  if (!writer_) return;
  hist::TJobRecord record;
  const std::time_t finished = std::time(nullptr);
  const std::time_t started = job.StartedAt();
  record.Started = IsoTime(started);
  record.StartedUtc = static_cast<std::int64_t>(started);
  record.Finished = IsoTime(finished);
  record.Seconds = std::round(job.Seconds() * 1000) / 1000;
  record.Station = hist::StationName();
  record.User = hist::UserName();
  record.ProgramVersion = ZV_VERSION;
  record.Command = command_;
  record.Port = job.Given();
  record.PortDevice = job.Device();
  record.PortUsb = UsbIdentity(job.Device());
  record.Protocol = protocol_;
  record.Rate = rate_;
  record.Reset = reset_;
  record.FilePath = file_.Path;
  record.FileSize = file_.Size;
  record.FileSum = file_.Sum;
  record.FileVersion = file_.Version;
  record.FileDevice = file_.Device;
  record.Forced = file_.Forced;
  if (auto j = job.Job()) {
    record.ReceiverNumber = j->Identity.ModuleNumber;
    record.ReceiverModuleId = j->Identity.ModuleId;
    record.ReceiverProductionDate = j->Identity.ProductionDate;
    record.ReceiverDeviceId = j->Identity.DeviceId;
    record.BootloaderVersion = j->ReceiverVersions.Boot.Number;
    // A programming run asks for the versions after writing: that is the firmware it left.
    (command_ == "versions" ? record.FirmwareBefore : record.FirmwareAfter) =
        j->ReceiverVersions.Firmware.Number;
    if (j->Verified >= 0) record.Verified = j->Verified == 1;
    record.BackupPath = j->BackupPath;
  }
  record.Ok = job.Exit() == ExitSuccess;
  record.ExitStatus = job.Exit();
  if (auto result = job.Result()) record.ResultCode = *result;
  record.Stopped = job.Stopped();
  record.Message = job.FinalMessage();
  record.Log = job.Log();

  writer_->Add(std::move(record), prefix);
}
