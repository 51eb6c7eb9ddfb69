#include "device/FlashContents.h"

namespace sim {

namespace {

// Bytes that look like ARM code: never a 128-byte run of 0xFF that would read as erased flash.
void FillCode(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to,
              std::uint32_t seed) {
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (std::size_t i = from; i < to; ++i) {
    x = x * 1103515245u + 12345u;
    std::uint8_t b = static_cast<std::uint8_t>(x >> 16);
    if (b == 0xFF) b = 0xE5;
    bytes[i] = (i % 4 == 3) ? static_cast<std::uint8_t>(0xE0 | (b & 0x0F)) : b;
  }
}

void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text,
         std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    bytes[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

}  // namespace

std::vector<std::uint8_t> MakeSystemFile(const TFirmwareSpec& spec) {
  std::vector<std::uint8_t> file(spec.Size);
  FillCode(file, 0, file.size(), spec.Seed);
  for (std::size_t i = 0; i < 32 && i + 4 <= file.size(); i += 4) {  // an exception vector table
    file[i] = 0x06;
    file[i + 1] = 0x00;
    file[i + 2] = 0x00;
    file[i + 3] = 0xEA;
  }
  std::size_t at = spec.BlockOffset;
  if (at + 93 <= file.size()) {
    // The search for the marker never steps back: a "=" just before it would hide it.
    if (at > 0) file[at - 1] = 0x00;
    Put(file, at, "=== Device ID", 13);
    Put(file, at + 13, " ===   ", 7);
    Put(file, at + 20, spec.DeviceId, 6);
    Put(file, at + 26, spec.Major, 3);
    Put(file, at + 29, spec.Minor, 3);
    Put(file, at + 32, spec.Date, 12);
    Put(file, at + 44, spec.Time, 9);
    Put(file, at + 53, spec.Comment, 30);
    Put(file, at + 83, "", 10);
  }
  return file;
}

std::vector<std::uint8_t> SystemImageOf(const std::vector<std::uint8_t>& file) {
  std::uint32_t size = static_cast<std::uint32_t>(file.size()), sum = 0;
  for (std::uint8_t b : file) sum += b;
  std::vector<std::uint8_t> image;
  for (std::uint32_t v : {size, sum})
    for (int i = 0; i < 4; ++i) image.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  image.insert(image.end(), file.begin(), file.end());
  return image;
}

std::vector<std::uint8_t> MakeBootloaderArea() {
  std::vector<std::uint8_t> area(0x600);
  FillCode(area, 0, area.size(), 7);
  const std::string id = std::string("Kuvreth") + "00.00.0000:00:0003.0707.09.09";
  Put(area, 0x480, id, 7 + 31);
  return area;
}

void FillFactoryFlash(TFlash& flash) {
  std::vector<std::uint8_t> boot = MakeBootloaderArea();
  std::copy(boot.begin(), boot.end(), flash.Data());
  TFirmwareSpec factory;
  factory.Size = 150000;
  factory.Major = "3";
  factory.Minor = "05";
  factory.Date = "Nov 26 2009";
  factory.Comment = "factory firmware";
  factory.Seed = 3;
  flash.Place(FirmwareBase, SystemImageOf(MakeSystemFile(factory)));
}

}  // namespace sim
