#include "cli/JobHistory.h"

#include <cmath>
#include <cstdio>

#include "appdata/FileCheck.h"
#include "cli/ExitCodes.h"
#include "cli/IsoTime.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"
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

// How long a station keeps records locally after the server failed, before it asks it again.
constexpr auto ServerRetryAfter = std::chrono::seconds(30);
}  // namespace

struct TJobHistory::TPending {
  hist::TJobRecord Record;
  std::string Prefix;
};

TJobHistory::~TJobHistory() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    closing_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

void TJobHistory::Write() {
  const hist::THistoryTarget target = hist::ResolveTarget(history_);
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
    if (pending_.empty()) return;
    std::unique_ptr<TPending> next = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    std::string note, error;
    const bool serverDown = std::chrono::steady_clock::now() < serverRetryAt_;
    const bool stored = hist::RecordJob(target, next->Record, note, error, serverDown);
    if (!note.empty() && !serverDown)
      serverRetryAt_ = std::chrono::steady_clock::now() + ServerRetryAfter;
    const char* prefix = next->Prefix.c_str();
    if (!note.empty()) std::fprintf(stderr, "%szv8810-fwu: history: %s\n", prefix, note.c_str());
    if (!stored)
      std::fprintf(stderr, "%szv8810-fwu: history: the record could not be stored: %s\n", prefix,
                   error.c_str());
    lock.lock();
  }
}

TJobHistory::TJobHistory(const TCliOptions& options, std::string command, const TCheckedFile* file)
    : enabled_(!options.NoHistory),
      history_(options.History),
      command_(std::move(command)),
      reset_(options.ResetAuto ? "auto" : "manual"),
      protocol_(options.Protocol),
      rate_(options.Baud) {
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

void TJobHistory::Record(TPortJob& job, const std::string& prefix) {
  if (!enabled_) return;
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

  auto pending = std::make_unique<TPending>();
  pending->Record = std::move(record);
  pending->Prefix = prefix;
  {
    std::lock_guard<std::mutex> lock(lock_);
    pending_.push_back(std::move(pending));
    if (!writer_.joinable()) writer_ = std::thread([this] { Write(); });
  }
  wake_.notify_all();
}
