#include "ui/WindowHistory.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "appdata/DMU.h"
#include "appdata/FileCheck.h"
#include "cli/IsoTime.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The command line's exit statuses, so that both front ends' records read alike.
std::int64_t ExitOf(const TJob* job, bool threadRan, bool portNotOpened) {
  if (portNotOpened) return 7;
  if (job == nullptr) return 1;
  if (job->WriteResult == ResultSuccess) return 0;
  if (job->StopReason() == TStopReason::PortLost) return 8;
  if (!threadRan) return 6;  // the receiver did not answer in its working protocol
  return job->WriteResult == ResultNothing ? 1 : job->WriteResult.load();
}

}  // namespace

TWindowHistory::TWindowHistory()
    : writer_(std::make_unique<hist::THistoryWriter>(
          hist::ResolveTarget(""), [](const std::string&, const std::string& text) {
            std::fprintf(stderr, "ZV8810_FWU: history: %s\n", text.c_str());
          })) {}

TWindowHistory::~TWindowHistory() = default;

void TWindowHistory::Begin(const TJobRequest& request) {
  pending_ = true;
  request_ = request;
  request_.Images.reset();  // the job holds its image; the record needs only the path
  started_ = std::time(nullptr);
  startedSeconds_ = Now();
  message_.clear();
}

void TWindowHistory::Cancel() {
  pending_ = false;
}

void TWindowHistory::Message(const std::string& text) {
  if (pending_ && message_.empty()) message_ = text.substr(0, text.find_first_of("\r\n"));
}

void TWindowHistory::End(const TJob* job, bool threadRan, bool portNotOpened,
                         const std::vector<std::string>& log) {
  if (!pending_) return;
  pending_ = false;
  const bool program = request_.Mode == ModeProgram;
  hist::TJobRecord record;
  record.Started = IsoTime(started_);
  record.StartedUtc = static_cast<std::int64_t>(started_);
  record.Finished = IsoTime(std::time(nullptr));
  record.Seconds = std::round((Now() - startedSeconds_) * 1000) / 1000;
  record.Station = hist::StationName();
  record.User = hist::UserName();
  record.ProgramVersion = ZV_WINDOW_VERSION;
  record.Command = program ? "window program" : "window versions";
  record.Port = request_.Port.Name;
  record.Protocol = JobProtocolName(request_.Protocol);
  record.Rate = request_.Rate;
  record.Reset = request_.Reset == TResetMethod::Auto ? "auto" : "manual";
  if (job != nullptr) {
    record.PortDevice = job->Port.Device;
    if (program) {
      record.FilePath = request_.SystemFile;
      record.Forced = request_.Forced;
      // The image the job wrote: its 8-byte header (size, sum), then the file.
      const std::vector<std::uint8_t>& image = job->Images.SystemImage;
      if (image.size() >= 8) {
        const std::uint8_t* file = image.data() + 8;
        const std::size_t size = image.size() - 8;
        record.FileSize = static_cast<std::int64_t>(size);
        record.FileSum = SumText(ByteSum(file, size));
        const TFileDescription description = ReadFileDescription(file, size);
        if (description.Present) {
          record.FileVersion = description.Version;
          record.FileDevice = description.Device;
        }
      }
    }
    record.ReceiverNumber = job->Identity.ModuleNumber;
    record.ReceiverModuleId = job->Identity.ModuleId;
    record.ReceiverProductionDate = job->Identity.ProductionDate;
    record.ReceiverDeviceId = job->Identity.DeviceId;
    record.BootloaderVersion = job->ReceiverVersions.Boot.Number;
    (program ? record.FirmwareAfter : record.FirmwareBefore) =
        job->ReceiverVersions.Firmware.Number;
    if (job->Verified >= 0) record.Verified = job->Verified == 1;
    record.BackupPath = job->BackupPath;
    if (threadRan) record.ResultCode = job->WriteResult.load();
  }
  record.ExitStatus = ExitOf(job, threadRan, portNotOpened);
  record.Ok = record.ExitStatus == 0;
  record.Message = message_;
  record.Log = log;
  writer_->Add(std::move(record));
}
