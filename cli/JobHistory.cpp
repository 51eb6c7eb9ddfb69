#include "cli/JobHistory.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "appdata/DMU.h"
#include "cli/ExitCodes.h"
#include "cli/IsoTime.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"
#include "platform/AdapterInfo.h"

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

THistoryFile ReadHistoryFile(const std::string& path) {
  THistoryFile file;
  file.Path = path;
  if (path.empty()) return file;
  std::ifstream in(path, std::ios::binary);
  if (!in) return file;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return file;
  file.Size = static_cast<std::int64_t>(bytes.size());
  char sum[16];
  std::snprintf(sum, sizeof sum, "0x%08X", ByteSum(bytes.data(), bytes.size()));
  file.Sum = sum;
  const std::int32_t at = FindText(bytes.data(), bytes.size(), DescriptionMarker);
  if (at >= 0 && bytes.size() - static_cast<std::size_t>(at) >= DescriptionBlockSize) {
    const std::uint8_t* block = bytes.data() + at;
    file.Device = Field(block, 20, 6);
    file.Version = Field(block, 26, 3) + "." + Field(block, 29, 3);
  }
  return file;
}

namespace {
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

TJobHistory::TJobHistory(const TCliOptions& options, std::string command, const std::string& file)
    : enabled_(!options.NoHistory),
      history_(options.History),
      command_(std::move(command)),
      reset_(options.ResetAuto ? "auto" : "manual"),
      protocol_(options.Protocol),
      rate_(options.Baud) {
  if (enabled_ && !file.empty()) file_ = ReadHistoryFile(file);
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
  if (auto j = job.Job()) {
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
