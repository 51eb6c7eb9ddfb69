// The real resident on the emulated processor of zv8810-sim, driven byte by byte over a
// pseudo-terminal, and the committed image checked against a rebuild.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/FlashContents.h"
#include "platform/SerialDevice.h"
#include "tests/TestSupport.h"

namespace {

Bytes ReadBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void PutU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Sum(const Bytes& b, std::size_t from = 0, std::size_t count = SIZE_MAX) {
  std::uint32_t s = 0;
  for (std::size_t i = from; i < b.size() && i - from < count; ++i) s += b[i];
  return s;
}

Bytes Command(char code, std::uint32_t argument) {
  Bytes c;
  PutU32(c, 115200);
  c.push_back(static_cast<std::uint8_t>(code));
  PutU32(c, argument);
  return c;
}

// The updater's end of the line, at the bootloader's settings.
class TLink {
 public:
  explicit TLink(const std::string& path) {
    EXPECT_TRUE(device_.Open(path));
    plat::TLineSettings s;
    s.BaudRate = 115200;
    s.Parity = 0;
    EXPECT_TRUE(device_.Apply(s));
  }
  void Send(const Bytes& bytes) { device_.Write(bytes.data(), static_cast<int>(bytes.size())); }
  Bytes Read(std::size_t count, int timeoutMs) {
    Bytes got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      std::uint8_t buffer[4096];
      int n = 0;
      int wanted = static_cast<int>(std::min(sizeof buffer, count - got.size()));
      if (device_.Read(buffer, wanted, n, static_cast<int>(left.count())) == plat::TIoStatus::Done)
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }
  std::uint8_t Reply(int timeoutMs = 3000) {
    Bytes b = Read(1, timeoutMs);
    return b.empty() ? 0 : b[0];
  }
  std::string Text(std::size_t count, int timeoutMs) {
    Bytes b = Read(count, timeoutMs);
    return std::string(b.begin(), b.end());
  }

 private:
  plat::TSerialDevice device_;
};

Bytes Upload(const Bytes& image) {
  Bytes b{0xCC};
  PutU32(b, static_cast<std::uint32_t>(image.size()));
  PutU32(b, Sum(image));
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

Bytes Frame(const Bytes& image, std::size_t k) {
  Bytes f(1024, 0xFF);
  for (std::size_t i = 0; i < 1024 && k * 1024 + i < image.size(); ++i) f[i] = image[k * 1024 + i];
  PutU32(f, Sum(f));
  return f;
}

// A simulator in its bootloader with the resident uploaded and announced.
class ResidentLink : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--state", "bootloader", "--flash", flashPath};
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<TSimProcess>(61, args);
    link = std::make_unique<TLink>(sim->DevicePath());
    ASSERT_EQ(link->Text(4, 3000), "#$#%");
    link->Send(Upload(ReadBinary(ZV_RESIDENT_PATH)));
    std::string banner = link->Text(35, 5000);
    ASSERT_NE(banner.find("FLASH PROG"), std::string::npos) << banner;
  }
  Bytes PersistedFlash() {
    sim->Stop();
    return ReadBinary(flashPath);
  }

  std::string flashPath = TempDir() + "/flash-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
  std::unique_ptr<TSimProcess> sim;
  std::unique_ptr<TLink> link;
};

}  // namespace

TEST(Resident, CommittedImageIsTheVectorTableFirstAnd17504Bytes) {
  Bytes image = ReadBinary(ZV_RESIDENT_PATH);
  ASSERT_EQ(image.size(), 17504u);
  for (int vector = 0; vector < 8; ++vector)
    EXPECT_EQ(image[vector * 4 + 3], 0xEA) << "vector " << vector << " is a branch";
}

TEST(Resident, RebuildIsIdentical) {
  const std::string rebuilt = ZV_REBUILT_RESIDENT;
  if (rebuilt.empty() || !std::filesystem::exists(rebuilt))
    GTEST_SKIP() << "arm-none-eabi-gcc is not installed: nothing rebuilt to compare";
  EXPECT_EQ(ReadBinary(rebuilt), ReadBinary(ZV_RESIDENT_PATH))
      << "resident/resident.bin is stale: run resident/build.sh resident/resident.bin";
}

TEST_F(ResidentLink, MemoryReadsErasesFramesCheckWordAndRestart) {
  Start();
  link->Send(Command('[', 0x01000480));
  std::string block = link->Text(128, 2000);
  ASSERT_EQ(block.size(), 128u);
  EXPECT_EQ(block.substr(0, 36), "Kuvreth00.00.0000:00:0003.0707.09.09");
  link->Send(Command('[', 0x30000000));
  EXPECT_EQ(link->Read(128, 2000), Bytes(128, 0xFF)) << "no memory there";

  link->Send(Command('3', 0xF0001));
  EXPECT_EQ(link->Reply(), 0xEC);

  sim::TFirmwareSpec spec;
  spec.Size = 1022;  // two frames; the second holds 6 image bytes and 1018 bytes of filler
  Bytes image = sim::SystemImageOf(sim::MakeSystemFile(spec));
  link->Send(Command('3', static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(link->Reply(), 0xAA);
  Bytes bad = Frame(image, 0);
  bad[1024] ^= 1;
  link->Send(bad);
  EXPECT_EQ(link->Reply(), 0xED) << "a wrong frame sum";

  link->Send(Command('3', static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 0));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 1));
  EXPECT_EQ(link->Reply(), 0xEF) << "every announced byte has arrived";
  Bytes wrongCheck;
  PutU32(wrongCheck, Sum(image) + 1);
  link->Send(wrongCheck);
  EXPECT_EQ(link->Reply(), 0xFE);

  link->Send(Command('3', static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 0));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 1));
  EXPECT_EQ(link->Reply(), 0xEF);
  Bytes check;
  PutU32(check, Sum(image));
  link->Send(check);
  EXPECT_EQ(link->Reply(), 0xBA);

  link->Send(Command('Z', 0));
  link->Send(Bytes{'$'});
  std::string after = link->Text(64, 600);
  EXPECT_EQ(after, "") << "the working firmware runs at its own settings";
  Bytes flash = PersistedFlash();
  const std::size_t fw = sim::FirmwareBase - sim::FlashBase;
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + fw));
  EXPECT_EQ(flash[fw + image.size()], 0xFF) << "the filler is not programmed";
}

TEST_F(ResidentLink, WritesA204800ByteSystemFileIntoFlash) {
  Start();
  sim::TFirmwareSpec spec;
  spec.Size = 204800;
  Bytes image = sim::SystemImageOf(sim::MakeSystemFile(spec));
  ASSERT_EQ(image.size(), 204808u);
  link->Send(Command('3', 204808));
  EXPECT_EQ(link->Reply(5000), 0xAA);
  std::size_t frames = (image.size() + 1023) / 1024;
  ASSERT_EQ(frames, 201u);
  for (std::size_t k = 0; k < frames; ++k) {
    link->Send(Frame(image, k));
    ASSERT_EQ(link->Reply(), k + 1 == frames ? 0xEF : 0xAA) << "frame " << k;
  }
  Bytes check;
  PutU32(check, Sum(image));
  link->Send(check);
  EXPECT_EQ(link->Reply(), 0xBA);
  Bytes flash = PersistedFlash();
  const std::size_t fw = sim::FirmwareBase - sim::FlashBase;
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + fw))
      << "the flash holds exactly the image, header included";
}

TEST_F(ResidentLink, FlashControllerFaultsBecomeRefusals) {
  Start({"--fault", "program-fail=1"});
  Bytes image = sim::SystemImageOf(sim::MakeSystemFile(sim::TFirmwareSpec{}));
  link->Send(Command('3', static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 0));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 1));
  EXPECT_EQ(link->Reply(), 0xE1) << "programming failed in frame 1";
  link->Send(Command('3', static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(link->Reply(), 0xAA) << "back at the command frames, erased again";
  link->Send(Frame(image, 0));
  EXPECT_EQ(link->Reply(), 0xAA);
  link->Send(Frame(image, 1));
  EXPECT_EQ(link->Reply(), 0xAA) << "the fault happens once";
}

TEST(ResidentUpload, WrongSumIsRefusedAndTheBootloaderGreetsAgain) {
  TSimProcess sim(62, {"--state", "bootloader"});
  TLink link(sim.DevicePath());
  ASSERT_EQ(link.Text(4, 3000), "#$#%");
  Bytes upload = Upload(ReadBinary(ZV_RESIDENT_PATH));
  upload[5] ^= 0x01;  // the announced sum
  link.Send(upload);
  std::string after = link.Text(64, 1500);
  EXPECT_EQ(after.find("FLASH PROG"), std::string::npos);
  EXPECT_NE(after.find("#$#%"), std::string::npos);
}

TEST(ResidentUpload, InvalidCodeFaultsWithoutCrashingTheSimulator) {
  TSimProcess sim(63, {"--state", "bootloader"});
  TLink link(sim.DevicePath());
  ASSERT_EQ(link.Text(4, 3000), "#$#%");
  link.Send(Upload(Bytes(64, 0xFF)));  // not code: the processor faults
  EXPECT_EQ(link.Text(16, 800), "");
  sim.Signal(SIGUSR1);
  EXPECT_NE(link.Text(4, 2000).find("#$#%"), std::string::npos) << "still alive after a fault";
  EXPECT_NE(sim.Stop().find("processor stopped"), std::string::npos);
}
