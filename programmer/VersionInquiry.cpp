// The version inquiry: the bootloader's identification block and the firmware's description
// block, found in the receiver's memory through 128-byte reads.
#include <cstring>

#include "appdata/DMU.h"
#include "programmer/SystemWriteThrU.h"
#include "programmer/VersionFields.h"

namespace {

constexpr std::int32_t BootScanLimit = 2560;

std::string DoneStatus(const TVersionInfo& info) {
  return std::string(Tr("выполнено", "done")) + "  .::" + info.Number + "::" + info.Date + "::.";
}

}  // namespace

TLinkWait TSystemWriteThr::ReadAndShift(std::uint32_t address) {
  TLinkWait read = link_.ReadBlock(address);
  if (read != TLinkWait::Arrived) return read;
  std::memcpy(searchWindow_ + BlockSize, searchWindow_, BlockSize);
  std::memcpy(searchWindow_, link_.Block().data(), BlockSize);
  return read;
}

std::int32_t TSystemWriteThr::FindSignature(std::uint32_t base, std::int32_t offset,
                                            const std::string& signature) {
  std::memset(searchWindow_, 0, sizeof searchWindow_);
  if (ReadAndShift(base + static_cast<std::uint32_t>(offset)) != TLinkWait::Arrived) return -2;
  offset -= BlockSize;
  while (offset > 0) {
    if (ReadAndShift(base + static_cast<std::uint32_t>(offset)) != TLinkWait::Arrived) return -2;
    std::int32_t p = FindText(searchWindow_, sizeof searchWindow_, signature);
    if (p >= 0) return offset + p;
    offset -= BlockSize;
  }
  return -1;
}

TVersionInfo& TSystemWriteThr::BeginInquiry(const std::string& stage, TVersionInfo& info) {
  StageLine(stage, Tr("ждите...", "waiting..."));
  info = TVersionInfo{};  // a failed inquiry leaves its texts empty
  link_.RealignBlocks();
  return info;
}

std::int32_t TSystemWriteThr::ReadBootVersion() {
  TVersionInfo& boot =
      BeginInquiry(Tr("Запрос версии загрузчика", "Inquiry of the bootloader version"),
                   job_->ReceiverVersions.Boot);
  std::int32_t offset = 0;
  bool end = false;
  do {
    if (auto code =
            Unanswered(link_.ReadBlock(BootInfoBase + static_cast<std::uint32_t>(offset)), -2))
      return *code;
    if (link_.BlockErased()) {
      offset -= BlockSize;  // the last block with data
      end = true;
      break;
    }
    offset += BlockSize;
  } while (offset < BootScanLimit);
  const std::string noData = Tr("нет данных", "no data");
  if (!end) {
    StageLine("", noData);
    return -1;
  }
  std::int32_t p = FindSignature(BootInfoBase, offset, BootSignature);
  if (StopSeen()) return Interrupted(-2);
  if (p < 0) {
    // Not found, or a read timed out during the search: nothing was read.
    StageLine("", noData);
    return p;
  }
  if (auto code = Unanswered(link_.ReadBlock(BootInfoBase + static_cast<std::uint32_t>(p)), -2))
    return *code;
  boot = BootVersionFrom(link_.Block().data());
  StageLine("", DoneStatus(boot));
  return 0;
}

std::int32_t TSystemWriteThr::ReadFirmwareVersion() {
  TVersionInfo& firmware =
      BeginInquiry(Tr("Запрос версии системы", "Inquiry of the firmware version"),
                   job_->ReceiverVersions.Firmware);
  const std::uint32_t start = FirmwareBase + FirmwareSpan;
  if (auto code = Unanswered(link_.ReadBlock(start), -2)) return *code;
  // Erased at the start: the image ends below it; otherwise it reaches beyond.
  const bool downwards = link_.BlockErased();
  std::int32_t offset = 0;
  bool found = false;
  while (std::abs(offset) < static_cast<std::int32_t>(FirmwareSpan)) {
    offset += downwards ? -BlockSize : BlockSize;
    if (auto code = Unanswered(link_.ReadBlock(start + static_cast<std::uint32_t>(offset)), -2))
      return *code;
    if (downwards != link_.BlockErased()) {
      found = true;  // going down: the image's last block; going up: the first after it
      break;
    }
  }
  const std::string noData = Tr("нет данных", "no data");
  if (!found) {
    StageLine("", noData);
    return -1;
  }
  std::int32_t p = FindSignature(FirmwareBase, static_cast<std::int32_t>(FirmwareSpan) + offset,
                                 FirmwareSignature);
  if (StopSeen()) return Interrupted(-2);
  if (p < 0) {
    StageLine("", noData);
    return p;
  }
  if (auto code = Unanswered(link_.ReadBlock(FirmwareBase + static_cast<std::uint32_t>(p)), -2))
    return *code;
  firmware = FirmwareVersionFrom(link_.Block().data());
  StageLine("", DoneStatus(firmware));
  return 0;
}
