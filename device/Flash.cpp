#include "device/Flash.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace sim {

namespace {
bool InFirmwareArea(std::uint32_t address, std::uint32_t size) {
  return address >= FirmwareBase && address - FirmwareBase + size <= FirmwareSize;
}
}  // namespace

bool TFlash::EraseSector(std::uint32_t address) {
  std::uint32_t sector = address & ~(SectorSize - 1);
  if (!InFirmwareArea(sector, SectorSize)) return false;
  std::fill_n(bytes_.begin() + (sector - FlashBase), SectorSize, 0xFF);
  return true;
}

bool TFlash::ProgramWord(std::uint32_t address, std::uint32_t word) {
  if ((address & 3) != 0 || !InFirmwareArea(address, 4)) return false;
  std::uint8_t* p = bytes_.data() + (address - FlashBase);
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t wanted = static_cast<std::uint8_t>(word >> (8 * i));
    std::uint8_t result = p[i] & wanted;  // bits are only ever cleared
    if (result != wanted) ok = false;
    p[i] = result;
  }
  return ok;
}

void TFlash::Place(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  std::uint32_t offset = address - FlashBase;
  if (offset >= FlashSize) return;
  std::size_t n = std::min<std::size_t>(bytes.size(), FlashSize - offset);
  std::uint32_t first = offset & ~(SectorSize - 1);
  for (std::uint32_t s = first; s < offset + n; s += SectorSize)
    std::fill_n(bytes_.begin() + s, SectorSize, 0xFF);
  std::copy_n(bytes.begin(), n, bytes_.begin() + offset);
}

bool TFlash::LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<std::uint8_t> content(FlashSize, 0xFF);
  in.read(reinterpret_cast<char*>(content.data()), FlashSize);
  if (in.gcount() != static_cast<std::streamsize>(FlashSize)) return false;
  bytes_ = std::move(content);
  return true;
}

bool TFlash::SaveFile(const std::string& path) const {
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), FlashSize);
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) == 0) return true;
  std::remove(temp.c_str());
  return false;
}

}  // namespace sim
