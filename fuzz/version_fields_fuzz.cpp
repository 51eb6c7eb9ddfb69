// The version inquiry's block parsing: any 128 bytes read at a signature give version texts of
// bounded width, without reading past the block; the bootloader's date never keeps a dot.
#include <array>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "programmer/VersionFields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly one block: a shorter input is padded the way a short memory would read (0xFF).
  std::array<std::uint8_t, 128> block;
  block.fill(0xFF);
  std::memcpy(block.data(), data, std::min(size, block.size()));

  const TVersionInfo boot = BootVersionFrom(block.data());
  ZV_FUZZ_CHECK(boot.Number.size() <= 5);
  ZV_FUZZ_CHECK(boot.Date.size() <= 8);
  ZV_FUZZ_CHECK(boot.Date.find('.') == std::string::npos);

  const TVersionInfo firmware = FirmwareVersionFrom(block.data());
  ZV_FUZZ_CHECK(firmware.Number.size() <= 7);  // three characters, a dot, three characters
  ZV_FUZZ_CHECK(firmware.Time.size() <= 9);
  ZV_FUZZ_CHECK(firmware.Date.size() <= 64);
  return 0;
}
