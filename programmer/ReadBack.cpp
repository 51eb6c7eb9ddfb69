// Reading flash back through the resident's 128-byte reads: the backup of the firmware before
// it is erased, and the comparison of the written image after its check word was accepted.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <string_view>

#include "appdata/DMU.h"
#include "appdata/Language.h"
#include "platform/FileWrite.h"
#include "platform/TimeStamp.h"
#include "programmer/SystemWriteThrU.h"
#include "programmer/VersionFields.h"

namespace {

// The firmware area behind FirmwareBase; a header announcing more than it holds is not a file.
constexpr std::size_t ImageHeaderSize = 8;

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The version a system file's description block names ("3.05"), or "unknown".
std::string FileVersion(const std::vector<std::uint8_t>& file) {
  const std::int32_t at = FindText(file.data(), file.size(), DescriptionMarker);
  if (at < 0) return "unknown";
  std::uint8_t block[BlockSize] = {};
  std::copy_n(file.begin() + at, std::min<std::size_t>(BlockSize, file.size() - at), block);
  std::string number = FirmwareVersionFrom(block).Number;
  // The name is a file name: only the characters a version is made of.
  for (char& c : number)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  return number.empty() || number == "." ? "unknown" : number;
}

// "yyyymmdd-hhmmss" in local time.
std::string FileStamp() {
  std::time_t now = std::time(nullptr);
  const std::tm local = plat::LocalTime(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

// The port as part of a file name: the last part of a path, without separators.
std::string FileLabel(std::string label) {
  if (auto slash = label.find_last_of('/'); slash != std::string::npos)
    label = label.substr(slash + 1);
  for (char& c : label)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return label.empty() ? "port" : label;
}

std::string Percentage(std::size_t done, std::size_t total) {
  return std::to_string(total == 0 ? 100 : done * 100 / total) + "%";
}

}  // namespace

TLinkWait TSystemWriteThr::ReadRange(std::uint32_t address, std::size_t length,
                                     std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(length);
  link_.RealignBlocks();
  std::size_t shown = 101;
  while (out.size() < length) {
    const TLinkWait wait = link_.ReadBlock(address + static_cast<std::uint32_t>(out.size()));
    if (wait != TLinkWait::Arrived) return wait;
    const auto block = link_.Block();
    const std::size_t n = std::min<std::size_t>(BlockSize, length - out.size());
    out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    // One report per percent, not per block: each is a synchronous call.
    const std::size_t percent = out.size() * 100 / length;
    if (percent != shown) {
      shown = percent;
      StageLine("", Percentage(out.size(), length));
    }
  }
  return TLinkWait::Arrived;
}

TSystemWriteThr::TFirmwareRead TSystemWriteThr::ReadFirmware() {
  TFirmwareRead read;
  std::vector<std::uint8_t> header;
  read.Wait = ReadRange(FirmwareBase, ImageHeaderSize, header);
  if (read.Wait != TLinkWait::Arrived) return read;
  const std::uint32_t length = Le32(header.data());
  const std::uint32_t sum = Le32(header.data() + 4);
  if (length == 0 || length > FirmwareAreaSize - ImageHeaderSize) return read;  // none there
  std::vector<std::uint8_t> image;
  read.Wait = ReadRange(FirmwareBase, ImageHeaderSize + length, image);
  if (read.Wait != TLinkWait::Arrived) return read;
  read.Present = true;
  read.File.assign(image.begin() + ImageHeaderSize, image.end());
  read.SumMatches = ByteSum(read.File.data(), read.File.size()) == sum;
  return read;
}

std::int32_t TSystemWriteThr::BackupFirmware() {
  const std::string failed = Tr("ошибка: резервная копия не сделана, ничего не стёрто",
                                "Error: the backup failed, nothing was erased");
  StageLine(Tr("Резервная копия прошивки", "Backing up firmware"), Tr("ждите...", "waiting..."));
  const TFirmwareRead read = ReadFirmware();
  if (auto code = Unanswered(read.Wait, ResultErase, failed + Tr(" (нет ответа)", " (no answer)")))
    return *code;
  if (!read.Present) {
    StageLine("", Tr("нет прошивки для копирования", "no firmware to back up"));
    return ResultSuccess;
  }
  // A firmware that does not match its own sum (a write cut short) is what a recovery replaces:
  // it is kept under a name that says so, and programming goes on.
  std::string dir = job_->BackupDir;
  if (dir.back() != '/') dir += '/';
  const std::string path = dir + FileLabel(job_->BackupLabel) + "-" + FileVersion(read.File) +
                           (read.SumMatches ? "-" : "-damaged-") + FileStamp() + ".bin";
  std::string reason;
  if (!plat::WriteFileReplacing(
          path, std::string_view(reinterpret_cast<const char*>(read.File.data()), read.File.size()),
          reason)) {
    StageLine("", failed + " (" + path + ": " + reason + ")");
    return ResultErase;
  }
  job_->BackupPath = path;
  job_->BackupDamaged = !read.SumMatches;
  if (read.SumMatches)
    StageLine("", Tr("выполнено", "done"));
  else
    StageLine("", Tr("внимание: прошивка повреждена (сумма не совпала), сохранена как есть",
                     "Warning: the firmware is damaged (the sum differs), saved as it is"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::CheckFirmware() {
  StageLine(Tr("Проверка прошивки", "Checking the firmware"), "0%");
  const TFirmwareRead read = ReadFirmware();
  if (auto code =
          Unanswered(read.Wait, ResultNothing, Tr("ошибка (нет ответа)", "Error: not answer")))
    return *code;
  const bool complete = read.Present && read.SumMatches;
  job_->FirmwareComplete = complete ? 1 : 0;
  StageLine("", complete
                    ? Tr("прошивка цела", "firmware complete")
                    : Tr("прошивка неполная или повреждена", "firmware incomplete or damaged"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::VerifyImage() {
  const std::vector<std::uint8_t>& image = job_->Images.SystemImage;
  StageLine(Tr("Проверка записи", "Verifying"), "0%");
  std::vector<std::uint8_t> flash;
  const TLinkWait read = ReadRange(FirmwareBase, image.size(), flash);
  if (read == TLinkWait::TimedOut) job_->Verified = 0;
  if (auto code = Unanswered(read, ResultWrite, Tr("ошибка (нет ответа)", "Error: not answer")))
    return *code;
  const auto differs = std::mismatch(image.begin(), image.end(), flash.begin());
  if (differs.first != image.end()) {
    job_->Verified = 0;
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X",
                  FirmwareBase + static_cast<std::uint32_t>(differs.first - image.begin()));
    StageLine("", std::string(Tr("ошибка: отличие по адресу ", "Error: differs at ")) + address);
    return ResultWrite;
  }
  job_->Verified = 1;
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}
