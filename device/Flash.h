// The receiver's flash memory: 1 MiB at 0x01000000 in 64 KiB sectors. Erasing a sector sets its
// bytes to 0xFF; programming can only clear bits, so a word that would need a bit set fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr std::uint32_t FlashBase = 0x01000000;
constexpr std::uint32_t FlashSize = 0x00100000;
constexpr std::uint32_t SectorSize = 0x00010000;
constexpr std::uint32_t FirmwareBase = 0x01010000;
constexpr std::uint32_t FirmwareSize = 0x000F0000;

class TFlash {
 public:
  TFlash() : bytes_(FlashSize, 0xFF) {}

  // The bootloader's sector is protected: erase and program only touch the firmware area.
  bool EraseSector(std::uint32_t address);
  bool ProgramWord(std::uint32_t address, std::uint32_t word);
  std::uint8_t* Data() { return bytes_.data(); }
  const std::uint8_t* Data() const { return bytes_.data(); }
  // Places bytes at an address as a programmer would (sectors erased first); for start-up.
  void Place(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

  bool LoadFile(const std::string& path);
  bool SaveFile(const std::string& path) const;

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace sim
