// The device model's own rules: flash erase and programming, the bootloader's upload check.
#include <gtest/gtest.h>

#include "device/Bootloader.h"
#include "device/Flash.h"
#include "device/FlashContents.h"
#include "device/Hardware.h"

using namespace sim;

TEST(Flash, EraseSetsFFAndProgrammingOnlyClearsBits) {
  TFlash flash;
  const std::uint32_t at = FirmwareBase + 0x100;
  EXPECT_TRUE(flash.ProgramWord(at, 0x12345678));
  EXPECT_EQ(flash.Data()[at - FlashBase], 0x78);
  EXPECT_TRUE(flash.ProgramWord(at, 0x12345670)) << "clearing more bits works";
  EXPECT_FALSE(flash.ProgramWord(at, 0xFFFFFFFF)) << "setting bits needs an erase";
  EXPECT_TRUE(flash.EraseSector(at + 0x1234));
  EXPECT_EQ(flash.Data()[at - FlashBase], 0xFF);
  EXPECT_EQ(flash.Data()[SectorSize + SectorSize - 1], 0xFF);

  struct {
    const char* name;
    bool ok;
  } refused[] = {
      {"erase of the bootloader sector", flash.EraseSector(FlashBase)},
      {"erase beyond the flash", flash.EraseSector(FlashBase + FlashSize)},
      {"programming the bootloader area", flash.ProgramWord(FlashBase + 0x480, 0)},
      {"programming an unaligned word", flash.ProgramWord(FirmwareBase + 2, 0)},
      {"programming past the firmware area", flash.ProgramWord(FirmwareBase + FirmwareSize, 0)},
  };
  for (auto& r : refused) EXPECT_FALSE(r.ok) << r.name;
}

TEST(Bootloader, UploadIsCheckedBeforeTheProcessorStarts) {
  auto upload = [](std::uint32_t length, std::uint32_t sum,
                   const std::vector<std::uint8_t>& image) {
    TUploadReceiver receiver(RamSize);
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t v : {length, sum})
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    bytes.insert(bytes.end(), image.begin(), image.end());
    TUploadReceiver::TResult result = TUploadReceiver::TResult::More;
    for (std::uint8_t b : bytes)
      if ((result = receiver.Push(b)) != TUploadReceiver::TResult::More) break;
    return result;
  };
  std::vector<std::uint8_t> image(100, 0x11);
  EXPECT_EQ(upload(100, 1700, image), TUploadReceiver::TResult::Loaded);
  EXPECT_EQ(upload(100, 1701, image), TUploadReceiver::TResult::Refused);
  EXPECT_EQ(upload(RamSize + 1, 0, {}), TUploadReceiver::TResult::Refused);
  EXPECT_EQ(upload(0, 0, {}), TUploadReceiver::TResult::Refused);
}

TEST(FlashContents, FactoryFlashHoldsBothIdentificationBlocks) {
  TFlash flash;
  FillFactoryFlash(flash);
  const std::uint8_t* boot = flash.Data();
  std::string id(reinterpret_cast<const char*>(boot + 0x480), 7 + 29);
  EXPECT_EQ(id, "Kuvreth00.00.0000:00:0003.0707.09.09");
  bool erasedWithin2560 = true;
  for (std::uint32_t i = 0x600; i < 0x680; ++i) erasedWithin2560 &= boot[i] == 0xFF;
  EXPECT_TRUE(erasedWithin2560);
  const std::uint8_t* fw = flash.Data() + (FirmwareBase - FlashBase);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fw + 8 + 0x200), 13), "=== Device ID");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fw + 8 + 0x200 + 32), 11), "Nov 26 2009");
}
