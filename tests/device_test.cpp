// The device model's own rules: flash erase and programming, the bootloader's upload check.
#include <gtest/gtest.h>

#include "device/Bootloader.h"
#include "device/Faults.h"
#include "device/Flash.h"
#include "device/FlashContents.h"
#include "device/Hardware.h"
#include "device/SimFraming.h"
#include "device/UtcClock.h"

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

TEST(Faults, ValuesAreCheckedBeforeAnythingChanges) {
  struct {
    const char* spec;
    bool ok;
    const char* errorHas;  // for a refusal
  } cases[] = {
      {"flip=0", true, ""},
      {"flip=16777216", true, ""},
      {"flip=16777217", false, "from 0 to 16777216"},
      {"flip=99999999999999999999", false, "from 0 to 16777216"},
      {"flip=-1", false, "flip=N"},
      {"flip=+3", false, "flip=N"},
      {"flip= 3", false, "flip=N"},
      {"flip=3x", false, "flip=N"},
      {"flip", false, "flip=N"},
      {"flip=", false, "flip=N"},
      {"frame-silent=959", true, ""},
      {"frame-silent=960", false, "from 0 to 959"},
      {"drop=960", false, "from 0 to 959"},
      {"program-fail=9999999999", false, "from 0 to 959"},
      {"erase-fail", true, ""},
      {"erase-fail=0", false, "from 1 to"},
      {"erase-fail=2", true, ""},
      {"erase-refuse=EE", true, ""},
      {"erase-refuse=0xee", true, ""},
      {"erase-refuse=100", false, "00 to FF"},
      {"erase-refuse=0x", false, "00 to FF"},
      {"erase-refuse=-1", false, "00 to FF"},
      {"frame-refuse=3:ED", true, ""},
      {"frame-refuse=3", false, "frame-refuse=N:XX"},
      {"frame-refuse=3:", false, "frame-refuse=N:XX"},
      {"frame-refuse=960:ED", false, "frame-refuse=N:XX"},
      {"frame-refuse=3:EDD", false, "frame-refuse=N:XX"},
      {"silent", true, ""},
      {"silent=1", false, "takes no value"},
      {"check-refuse=", false, "takes no value"},
      {"nonsense", false, "unknown fault 'nonsense'"},
  };
  for (const auto& c : cases) {
    TFaults faults;
    faults.FlipOffset = 7;  // an earlier --fault
    std::string error;
    const bool ok = ApplyFault(c.spec, faults, error);
    EXPECT_EQ(ok, c.ok) << c.spec << ": " << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.errorHas), std::string::npos) << c.spec << ": " << error;
      EXPECT_EQ(faults.FlipOffset, 7) << c.spec << ": a refused fault changes nothing";
      EXPECT_EQ(faults.FrameRefuse, -1) << c.spec;
      EXPECT_FALSE(faults.SilentFirmware) << c.spec;
    }
  }
}

TEST(Faults, EachFaultReachesItsField) {
  TFaults f;
  std::string error;
  for (const char* spec : {"erase-fail=3", "frame-refuse=12:0xE1", "program-fail-always=4",
                           "flip=1028", "drop=5", "no-greeting"})
    ASSERT_TRUE(ApplyFault(spec, f, error)) << spec << ": " << error;
  EXPECT_EQ(f.EraseFailFrom, 3);
  EXPECT_EQ(f.FrameRefuse, 12);
  EXPECT_EQ(f.FrameRefuseByte, 0xE1);
  EXPECT_EQ(f.ProgramFail, 4);
  EXPECT_TRUE(f.ProgramFailAlways);
  EXPECT_EQ(f.FlipOffset, 1028);
  EXPECT_EQ(f.DropFrame, 5);
  EXPECT_TRUE(f.NoGreeting);
  ASSERT_TRUE(ApplyFault("erase-fail", f, error));
  EXPECT_EQ(f.EraseFailFrom, 1) << "without a value, from the first erase";
}

TEST(Faults, HelpListsEveryRowOnce) {
  const std::string help = FaultHelp();
  for (const TFaultRow& row : FaultTable()) {
    const std::string form = std::string(row.Form);
    EXPECT_EQ(form.rfind(row.Name, 0), 0u) << form;
    const std::string entry = "      " + form + " ";
    const std::size_t at = help.find(entry);
    ASSERT_NE(at, std::string::npos) << form << "\n" << help;
    EXPECT_EQ(help.find(entry, at + 1), std::string::npos) << form;
    // The row's text follows, whatever the wrapping.
    const std::string firstWord = std::string(row.Help).substr(0, std::string(row.Help).find(' '));
    EXPECT_NE(help.find(firstWord, at + entry.size() - 1), std::string::npos) << form;
  }
  for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
    end = help.find('\n', start);
    EXPECT_LE(end - start, 96u) << help.substr(start, end - start);
  }
}

TEST(ZorpCollector, KeepsBoundedMemoryWhateverArrives) {
  std::vector<Bytes> packets;
  TZorpCollector collector([&](const Bytes& p) { packets.push_back(p); });
  struct {
    const char* name;
    Bytes body;  // between the opening DLE and the closing DLE ETX, as on the wire
    bool delivered;
  } cases[] = {
      {"a packet of 1024 bytes", Bytes(1024, 0x41), true},
      {"a packet of 1025 bytes", Bytes(1025, 0x41), false},
      {"doubled DLEs beyond the limit",
       [] {
         Bytes b{0x41};
         for (int i = 0; i < 2000; ++i) b.insert(b.end(), {0x10, 0x10});
         return b;
       }(),
       false},
  };
  for (const auto& c : cases) {
    packets.clear();
    collector.Push(0x10);
    for (std::uint8_t b : c.body) collector.Push(b);
    collector.Push(0x10);
    collector.Push(0x03);
    EXPECT_EQ(packets.size(), c.delivered ? 1u : 0u) << c.name;
    for (const Bytes& p : packets) EXPECT_LE(p.size(), 1024u) << c.name;
    // The next frame is collected whole.
    packets.clear();
    for (std::uint8_t b : FrameZorp({0x26})) collector.Push(b);
    ASSERT_EQ(packets.size(), 1u) << c.name;
    EXPECT_EQ(packets[0], Bytes{0x26}) << c.name;
  }
}

// The --clock start and the NMEA fields it becomes: hundredths are kept (truncated, never rounded
// up into the next second), and only real dates and times are taken.
TEST(UtcClock, StartsBecomeNmeaTimeAndDate) {
  struct {
    const char* text;
    bool ok;
    const char* time;
    const char* date;
  } cases[] = {
      {"2024-02-29T23:59:59.99", true, "235959.99", "290224"},
      {"2000-01-01T00:00:00", true, "000000.00", "010100"},
      {"2031-12-31T12:34:56.05", true, "123456.05", "311231"},
      {"2023-02-29T00:00:00", false, "", ""},
      {"2026-13-01T00:00:00", false, "", ""},
      {"2026-01-01T24:00:00", false, "", ""},
      {"2026-01-01T00:60:00", false, "", ""},
      {"2026-01-01T00:00:00.5", false, "", ""},
      {"2026-01-01T00:00:00Z", false, "", ""},
      {"2026-01-01 00:00:00", false, "", ""},
      {"1969-12-31T23:59:59", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& c : cases) {
    UtcTime start{};
    EXPECT_EQ(ParseUtcStart(c.text, start), c.ok) << c.text;
    if (!c.ok) continue;
    const TNmeaClock nmea = NmeaClockOf(start);
    EXPECT_EQ(nmea.Time, c.time) << c.text;
    EXPECT_EQ(nmea.Date, c.date) << c.text;
    // A fixed start runs with real time from there.
    const TUtcClock clock(start);
    const auto later = clock.Now();
    EXPECT_GE(later, start);
    EXPECT_LT(later - start, std::chrono::seconds(5));
  }
}
