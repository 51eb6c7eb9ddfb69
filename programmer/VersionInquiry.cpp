// The version inquiry: the bootloader's identification block and the firmware's description
// block, found in the receiver's memory through 128-byte reads.
#include <algorithm>
#include <cstring>

#include "appdata/DMU.h"
#include "programmer/SystemWriteThrU.h"

namespace {

constexpr std::int32_t BootScanLimit = 2560;

std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
  const std::uint8_t* end = std::find(bytes, bytes + size, 0);
  return std::string(bytes, end);
}

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

// Characters from..to (1-based, inclusive), fewer when the text is shorter.
std::string Characters(const std::string& text, std::size_t from, std::size_t to) {
  if (text.size() < from) return std::string();
  return text.substr(from - 1, to - from + 1);
}

std::string DoneStatus(const TVersionInfo& info) {
  return std::string(Tr("выполнено", "done")) + "  .::" + info.Number + "::" + info.Date + "::.";
}

}  // namespace

std::int32_t TSystemWriteThr::ReadAndShift(std::uint32_t address) {
  if (ReadBlock(address) == -1) return -1;
  std::lock_guard<std::mutex> lock(blockLock_);
  std::memcpy(SearchWindow + 128, SearchWindow, 128);
  std::memcpy(SearchWindow, ReplyBlock, 128);
  return 0;
}

std::int32_t TSystemWriteThr::FindSignature(std::uint32_t base, std::int32_t offset,
                                            const std::string& signature) {
  std::memset(SearchWindow, 0, sizeof SearchWindow);
  if (ReadAndShift(base + static_cast<std::uint32_t>(offset)) == -1) return -2;
  offset -= 128;
  while (offset > 0) {
    if (ReadAndShift(base + static_cast<std::uint32_t>(offset)) == -1) return -2;
    std::int32_t p = FindText(SearchWindow, sizeof SearchWindow, signature);
    if (p >= 0) return offset + p;
    offset -= 128;
  }
  return -1;
}

TVersionInfo& TSystemWriteThr::BeginInquiry(const std::string& stage, TVersionInfo& info) {
  StageLine(stage, Tr("ждите...", "waiting..."));
  info = TVersionInfo{};  // a failed inquiry leaves its texts empty
  std::lock_guard<std::mutex> lock(blockLock_);
  ReplyCount = 0;  // realigns the reply blocks
  return info;
}

std::int32_t TSystemWriteThr::ReadBootVersion() {
  TVersionInfo& boot = BeginInquiry(
      Tr("Запрос версии загрузчика", "Inquiry of the bootloader version"), ReceiverVersions.Boot);
  std::int32_t offset = 0;
  bool end = false;
  do {
    if (ReadBlock(BootInfoBase + static_cast<std::uint32_t>(offset)) == -1) return -2;
    if (BlockErased()) {
      offset -= 128;  // the last block with data
      end = true;
      break;
    }
    offset += 128;
  } while (offset < BootScanLimit);
  const std::string noData = Tr("нет данных", "no data");
  if (!end) {
    StageLine("", noData);
    return -1;
  }
  std::int32_t p = FindSignature(BootInfoBase, offset, BootSignature);
  if (p >= 0) {
    if (ReadBlock(BootInfoBase + static_cast<std::uint32_t>(p)) == -1) return -2;
    std::string text;
    {
      std::lock_guard<std::mutex> lock(blockLock_);
      text = FieldText(ReplyBlock + 7, 31);
    }
    boot.Number = Characters(text, 17, 21);
    boot.Date = TrimBlanks(Characters(text, 22, 29));
    std::replace(boot.Date.begin(), boot.Date.end(), '.', '/');
  } else {
    // Not found, or a read timed out during the search: nothing was read.
    StageLine("", noData);
    return p;
  }
  StageLine("", DoneStatus(boot));
  return 0;
}

std::int32_t TSystemWriteThr::ReadFirmwareVersion() {
  TVersionInfo& firmware = BeginInquiry(
      Tr("Запрос версии системы", "Inquiry of the firmware version"), ReceiverVersions.Firmware);
  const std::uint32_t start = FirmwareBase + FirmwareSpan;
  if (ReadBlock(start) == -1) return -2;
  // Erased at the start: the image ends below it; otherwise it reaches beyond.
  const bool downwards = BlockErased();
  std::int32_t offset = 0;
  bool found = false;
  while (std::abs(offset) < static_cast<std::int32_t>(FirmwareSpan)) {
    offset += downwards ? -128 : 128;
    if (ReadBlock(start + static_cast<std::uint32_t>(offset)) == -1) return -2;
    const bool erased = BlockErased();
    if (downwards != erased) {
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
  if (p < 0) {
    StageLine("", noData);
    return p;
  }
  if (ReadBlock(FirmwareBase + static_cast<std::uint32_t>(p)) == -1) return -2;
  {
    std::lock_guard<std::mutex> lock(blockLock_);
    firmware.Date = FormatBuildDate(FieldText(ReplyBlock + 32, 12));
    firmware.Time = FieldText(ReplyBlock + 44, 9);
    firmware.Number = FieldText(ReplyBlock + 26, 3) + "." + FieldText(ReplyBlock + 29, 3);
  }
  StageLine("", DoneStatus(firmware));
  return 0;
}
