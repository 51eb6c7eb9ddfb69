// What the receiver's flash holds when it leaves the factory, and sample system files with a
// description block, made for the demo and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Flash.h"

namespace sim {

struct TFirmwareSpec {
  std::uint32_t Size = 204800;  // bytes of the system file
  std::string DeviceId = "ZV8810";
  std::string Major = "3";
  std::string Minor = "07";
  std::string Date = "Nov 26 2009";
  std::string Time = "14:02:33";
  std::string Comment = "ZV-8810 GNSS firmware";
  std::uint32_t Seed = 1;
  std::uint32_t BlockOffset = 0x200;  // where the description block lies in the file
};

// A system file: code-like bytes with the 93-byte description block (the block is left out
// when the file is too small to hold it).
std::vector<std::uint8_t> MakeSystemFile(const TFirmwareSpec& spec);
// The image the updater writes: file size and byte sum (little-endian), then the file.
std::vector<std::uint8_t> SystemImageOf(const std::vector<std::uint8_t>& file);
// The bootloader area: code, the identification block "Kuvreth" with version 03.07 of
// 07.09.09, erased flash after it.
std::vector<std::uint8_t> MakeBootloaderArea();
// Factory contents: the bootloader area and a factory firmware.
void FillFactoryFlash(TFlash& flash);

}  // namespace sim
