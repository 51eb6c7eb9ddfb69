// The Windows services of the platform layer, run under Wine: the program's own resources and
// version resource, the executable's path, the time stamp, the COM names, and the serial device
// and the port engine on two COM ports wired to each other (scripts/wine-com-pair.sh names them
// in ZV_COM_PAIR); and what the native window's face hands to the system (its texts' line ends,
// the saved log's Unicode name).
#include <gtest/gtest.h>
#include <windows.h>
// <windows.h> names FindResource as a macro; the platform function of that name is meant here.
#undef FindResource

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "appdata/DMU.h"
#include "platform/ComRegistry.h"
#include "platform/ExecutablePath.h"
#include "platform/Resources.h"
#include "platform/SerialDevice.h"
#include "platform/TimeStamp.h"
#include "platform/VersionInfo.h"
#include "tests/TestSupport.h"
#include "transport/PortIOUEx.h"
#include "transport/PortList.h"
#include "ui/model/MainModel.h"
#include "ui/win32/Win32Text.h"

using namespace std::chrono;

namespace {

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(Win32Resources, ResidentIsTheCommittedImageAndPicturesAreFound) {
  // The committed image, reached through Wine's drive Z: (the Unix root).
  Bytes committed = FileBytes(ZV_RESIDENT_PATH);
  ASSERT_EQ(committed.size(), 17504u) << ZV_RESIDENT_PATH;
  TJobImages images;
  ASSERT_TRUE(ReadResident(images));
  EXPECT_EQ(images.ResidentImage, committed);
  EXPECT_EQ(images.ResidentSize, 17504u);
  EXPECT_EQ(images.ResidentSum, ByteSum(committed.data(), committed.size()));

  // The logos are real bitmap resources, 215 x 90 with 24 bits per pixel, that LoadImage draws.
  for (const char* name : {"LogoEng", "LogoRus"}) {
    const plat::TResourceEntry* picture = plat::FindResource("BITMAP", name);
    ASSERT_NE(picture, nullptr) << name;
    ASSERT_GE(picture->Size, sizeof(BITMAPINFOHEADER) + 215u * 90u * 3u) << name;
    BITMAPINFOHEADER header;
    std::memcpy(&header, picture->Data, sizeof header);
    EXPECT_EQ(header.biWidth, 215) << name;
    EXPECT_EQ(header.biHeight, 90) << name;
    EXPECT_EQ(header.biBitCount, 24) << name;
    EXPECT_EQ(plat::FindResource("BITMAP", name), picture) << "looked up once, kept";
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr) << name;
    BITMAP drawn{};
    GetObjectA(bitmap, sizeof drawn, &drawn);
    EXPECT_EQ(drawn.bmWidth, 215);
    EXPECT_EQ(drawn.bmHeight, 90);
    DeleteObject(bitmap);
  }
  const plat::TResourceEntry* icon = plat::FindResource("BITMAP", "AboutIcon");
  ASSERT_NE(icon, nullptr);
  ASSERT_GT(icon->Size, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(icon->Data) + 1, 3), "PNG");
  EXPECT_EQ(plat::FindResource("BINFILE", "NoSuchThing"), nullptr);
  EXPECT_EQ(plat::FindResource("NOSUCHTYPE", "ResidentBin"), nullptr);
}

TEST(Win32VersionInfo, OwnVersionResourceAndAFileWithoutOne) {
  plat::TFileInfo info;
  ASSERT_TRUE(plat::ReadFileInfo(plat::ExecutablePath(), info));
  EXPECT_TRUE(info.FixedFound);
  EXPECT_EQ(info.Major, 2);
  EXPECT_EQ(info.Minor, 3);
  EXPECT_EQ(info.Release, 0);
  EXPECT_EQ(info.Build, 1);
  EXPECT_EQ(info.Strings.Language.LangId, 0x0409);
  EXPECT_EQ(info.Strings.Language.CodePage, 0x04E4);
  EXPECT_EQ(info.Strings.CompanyName, "ORMEK");
  EXPECT_EQ(info.Strings.InternalName, "ZV-8810 Firmware Updater");
  EXPECT_EQ(info.Strings.FileVersion, "2.3.0.1");
  EXPECT_EQ(info.Strings.ProductVersion, "1.0.0.0");
  EXPECT_NE(info.Strings.Comments.find("http"), std::string::npos);
  EXPECT_EQ(info.Strings.FileDescription, "");
  // The flags announce no private or special build, so those keys are not read.
  EXPECT_EQ(info.Strings.PrivateBuild, "");

  std::string plain = TempDir() + "\\plain.txt";
  std::ofstream(plain) << "no version resource here";
  plat::TFileInfo none;
  none.Strings.CompanyName = "stale";
  EXPECT_FALSE(plat::ReadFileInfo(plain, none));
  EXPECT_FALSE(none.FixedFound);
  EXPECT_EQ(none.Strings.CompanyName, "");
  EXPECT_FALSE(plat::ReadFileInfo(TempDir() + "\\missing.exe", none));
}

TEST(Win32Services, ExecutablePathAndTimeStamp) {
  std::string path = plat::ExecutablePath();
  EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
  EXPECT_EQ(std::filesystem::path(path).filename().string(), "win32_test.exe");

  const char sep = plat::TimeSeparator();
  EXPECT_TRUE(sep != '\0' && !std::isdigit(static_cast<unsigned char>(sep)));
  std::string stamp = plat::TimeStamp();
  ASSERT_EQ(stamp.size(), 8u) << stamp;
  std::regex pattern(std::string("([01][0-9]|2[0-3])") + sep + "[0-5][0-9]" + sep + "[0-5][0-9]");
  EXPECT_TRUE(std::regex_match(stamp, pattern)) << stamp;

  std::time_t moment = 86400 * 365;
  std::tm local = plat::LocalTime(moment);
  EXPECT_GE(local.tm_year, 70);
  EXPECT_LE(local.tm_hour, 23);
}

TEST(Win32ComNames, NumbersAndDeviceNames) {
  struct {
    const char* name;
    int number;
  } cases[] = {{"COM7", 7}, {"com12", 12}, {"COM", 0}, {"COMx", 0}, {"LPT1", 0}, {"COM1234567", 0}};
  for (const auto& c : cases) EXPECT_EQ(plat::PortNumberOf(c.name), c.number) << c.name;
  EXPECT_EQ(plat::DevicePathOf(7), "\\\\.\\COM7");
  EXPECT_EQ(plat::DevicePathOf(0), "");
  EXPECT_EQ(plat::RegisterDevicePath("\\\\.\\COM9"), 9);
  EXPECT_EQ(plat::RegisterDevicePath("C:\\file.txt"), 0);

  // The registry's list: every entry is a COM name with its device form, sorted by number.
  std::vector<plat::TPortEntry> entries = plat::ListPortEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Device, "\\\\.\\" + entries[i].Name);
    if (i > 0) {
      EXPECT_LE(entries[i - 1].Number, entries[i].Number);
    }
  }
  std::vector<std::string> names;
  ListSerialPorts(names);
  EXPECT_EQ(names.size(), entries.size());
}

// Two COM ports wired to each other.
class ComPair : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pair = std::getenv("ZV_COM_PAIR");
    ASSERT_NE(pair, nullptr) << "run through scripts/wine-com-pair.sh";
    ASSERT_EQ(std::sscanf(pair, "%d,%d", &a_, &b_), 2) << pair;
    // Whatever an earlier test left on the wire is taken off, so each test starts clean.
    for (int number : {a_, b_}) {
      plat::TSerialDevice end;
      ASSERT_TRUE(end.Open(Device(number))) << "COM" << number << ": " << end.LastError();
      ReadUntil(end, 1u << 20, 100);
    }
  }
  std::string Device(int number) const { return plat::DevicePathOf(number); }

  // Reads until count bytes arrived or the time is up.
  static Bytes ReadUntil(plat::TSerialDevice& device, std::size_t count, int timeoutMs) {
    Bytes got;
    auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    std::uint8_t buffer[1024];
    while (got.size() < count && steady_clock::now() < deadline) {
      int n = 0;
      auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      plat::TIoStatus status =
          device.Read(buffer, sizeof buffer, n, static_cast<int>(std::max<long long>(left, 0)));
      if (status == plat::TIoStatus::Done) got.insert(got.end(), buffer, buffer + n);
      if (status == plat::TIoStatus::Lost || status == plat::TIoStatus::Woken) break;
    }
    return got;
  }

  int a_ = 0, b_ = 0;
};

TEST_F(ComPair, BytesCrossInBothDirectionsAndLongWritesArriveWhole) {
  plat::TSerialDevice left, right;
  // The engine applies line settings once per open; a rate outside the list runs at 115200.
  for (plat::TLineSettings settings :
       {plat::TLineSettings{19200, 1, 0}, plat::TLineSettings{28800, 0, 0}}) {
    ASSERT_TRUE(left.Open(Device(a_))) << left.LastError();
    EXPECT_TRUE(left.Apply(settings)) << settings.BaudRate;
    left.Close();
  }
  ASSERT_TRUE(left.Open(Device(a_))) << left.LastError();
  ASSERT_TRUE(right.Open(Device(b_))) << right.LastError();
  ASSERT_TRUE(left.Apply({115200, 0, 0}));
  ASSERT_TRUE(right.Apply({115200, 0, 0}));
  left.Purge();
  right.Purge();

  Bytes message(5000);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 7);
  std::thread writer([&] {
    EXPECT_EQ(left.Write(message.data(), static_cast<int>(message.size())), plat::TIoStatus::Done);
    EXPECT_EQ(left.WaitSent(), plat::TIoStatus::Done);
  });
  EXPECT_EQ(ReadUntil(right, message.size(), 5000), message);
  writer.join();

  const Bytes answer = {0xCC, 0x00, 0x0D, 0x0A, 0xEF};
  ASSERT_EQ(right.Write(answer.data(), static_cast<int>(answer.size())), plat::TIoStatus::Done);
  EXPECT_EQ(ReadUntil(left, answer.size(), 3000), answer);
}

TEST_F(ComPair, ExclusiveOpenAndAMissingPort) {
  plat::TSerialDevice first, second;
  ASSERT_TRUE(first.Open(Device(a_)));
  EXPECT_FALSE(first.Open(Device(a_))) << "already open";
  EXPECT_FALSE(second.Open(Device(a_)));
  EXPECT_EQ(second.LastError(), EBUSY);
  EXPECT_FALSE(ProbeSerialPort("COM" + std::to_string(a_))) << "held by this process";
  EXPECT_FALSE(plat::OpenFailureReason(second.LastError()).empty());
  first.Close();
  EXPECT_TRUE(ProbeSerialPort("COM" + std::to_string(a_)));

  plat::TSerialDevice missing;
  EXPECT_FALSE(missing.Open(Device(96)));
  EXPECT_EQ(missing.LastError(), ENOENT);
  EXPECT_FALSE(ProbeSerialPort("COM96"));
  EXPECT_FALSE(ProbeSerialPort("COM"));
}

TEST_F(ComPair, ReadTimesOutIsWokenOnlyByWakeReaderAndKeepsItsPendingWait) {
  plat::TSerialDevice left, right;
  ASSERT_TRUE(left.Open(Device(a_)));
  ASSERT_TRUE(right.Open(Device(b_)));
  std::uint8_t buffer[64];
  int n = -1;

  auto start = steady_clock::now();
  EXPECT_EQ(right.Read(buffer, sizeof buffer, n, 150), plat::TIoStatus::TimedOut);
  auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
  EXPECT_GE(took, 140);
  EXPECT_LT(took, 3000);
  EXPECT_EQ(n, 0);

  // A reader blocked without limit leaves when woken, and only then.
  std::atomic<int> status{-1};
  std::thread reader([&] {
    int count = 0;
    status = static_cast<int>(right.Read(buffer, sizeof buffer, count));
  });
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(status.load(), -1) << "nothing arrived and nobody woke it";
  right.WakeReader();
  reader.join();
  EXPECT_EQ(status.load(), static_cast<int>(plat::TIoStatus::Woken));
  EXPECT_EQ(right.Read(buffer, sizeof buffer, n, 0), plat::TIoStatus::Woken) << "until reopened";

  // Reopened, the device reads again: no wait of the old handle is left behind.
  right.Close();
  ASSERT_TRUE(right.Open(Device(b_)));
  const Bytes hello = {'#', '$', '#', '%'};
  ASSERT_EQ(left.Write(hello.data(), 4), plat::TIoStatus::Done);
  EXPECT_EQ(ReadUntil(right, 4, 3000), hello);
}

TEST_F(ComPair, WokenWriterLeavesAndRearms) {
  plat::TSerialDevice left;
  ASSERT_TRUE(left.Open(Device(a_)));
  left.WakeWriter();
  const Bytes bytes = {1, 2, 3};
  EXPECT_EQ(left.Write(bytes.data(), 3), plat::TIoStatus::Woken);
  EXPECT_EQ(left.WaitSent(), plat::TIoStatus::Woken);
  left.RearmWriter();
  EXPECT_EQ(left.Write(bytes.data(), 3), plat::TIoStatus::Done);
  EXPECT_EQ(left.WaitSent(), plat::TIoStatus::Done);
}

// The port engine on a COM port, the test holding the other end.
TEST_F(ComPair, PortEngineMatchesAnswersAndSurvivesRepeatedOpenAndClose) {
  plat::TSerialDevice peer;
  ASSERT_TRUE(peer.Open(Device(b_)));
  TPortIO port;
  port.PortNumber = a_;
  port.LineProps.BaudRate = 115200;
  port.LineProps.Parity = 0;
  std::mutex lock;
  std::vector<std::string> answers;
  std::atomic<int> dataBytes{0};
  struct TSink {
    std::mutex* lock;
    std::vector<std::string>* answers;
    std::atomic<int>* dataBytes;
    void Data(const std::uint8_t*, int count) { *dataBytes += count; }
    void Answer(const std::uint8_t*, int, const std::string& text) {
      std::lock_guard<std::mutex> guard(*lock);
      answers->push_back(text);
    }
  } sink{&lock, &answers, &dataBytes};
  port.OnData.Bind<&TSink::Data>(&sink);
  port.OnAnswer.Bind<&TSink::Answer>(&sink);

  const std::string first = "xx$POR", second = "ZE,1*00\r\n$PORZE,";
  const int perRound = static_cast<int>(first.size() + second.size());
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(port.Open()) << "round " << round << ": " << port.LastOpenError();
    port.ExpectAnswer("$PORZE,");
    ASSERT_EQ(peer.Write(reinterpret_cast<const std::uint8_t*>(first.data()), 6),
              plat::TIoStatus::Done);
    std::this_thread::sleep_for(milliseconds(30));
    ASSERT_EQ(peer.Write(reinterpret_cast<const std::uint8_t*>(second.data()),
                         static_cast<int>(second.size())),
              plat::TIoStatus::Done);
    EXPECT_TRUE(port.AnswerEvent.Wait(3000)) << "round " << round;
    // Every byte the peer sent reaches OnData, also those after the answer.
    auto deadline = steady_clock::now() + seconds(3);
    while (dataBytes.load() < perRound * (round + 1) && steady_clock::now() < deadline)
      std::this_thread::sleep_for(milliseconds(2));
    EXPECT_EQ(dataBytes.load(), perRound * (round + 1)) << "round " << round;

    const std::string command = "$PORST,F\r\n";
    port.TxEmptyEvent.Reset();
    port.Write(reinterpret_cast<const std::uint8_t*>(command.data()),
               static_cast<int>(command.size()));
    Bytes got = ReadUntil(peer, command.size(), 3000);
    EXPECT_EQ(std::string(got.begin(), got.end()), command) << "round " << round;
    EXPECT_TRUE(port.TxEmptyEvent.Wait(3000));
    port.Close();
  }
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(answers, std::vector<std::string>(10, "$PORZE,")) << "one answer per round";
  EXPECT_EQ(dataBytes.load(), 10 * perRound);
}

// Messages end their lines with a lone CR, the model's tooltips with a lone LF: the system's
// boxes and tooltips get CR LF, once.
TEST(Win32WindowFace, TextLinesReachTheSystemWithCrLf) {
  const struct {
    const char* In;
    const char* Out;
  } cases[] = {
      {"", ""},
      {"one line", "one line"},
      {"Could not open COM5!\rThe port does not exist",
       "Could not open COM5!\r\nThe port does not exist"},
      {"File: \"a.bin\"\nDevice Id: ZV-8810", "File: \"a.bin\"\r\nDevice Id: ZV-8810"},
      {"already\r\nright\r\n", "already\r\nright\r\n"},
      {"\rstarts and ends\n", "\r\nstarts and ends\r\n"},
      {"empty\r\rline\n\nhere", "empty\r\n\r\nline\r\n\r\nhere"},
  };
  for (const auto& c : cases) EXPECT_EQ(win::CrLfLines(c.In), c.Out) << c.In;
}

namespace {

struct TQuietFace : TMainFace {
  TMainValues Values() const override { return {}; }
  void PaintEnabling(const TMainEnabling&) override {}
  void PaintResetEnabling(const TResetEnabling&) override {}
  void AddLogLine(const std::string&) override {}
  void ReplaceLastLogLine(const std::string&) override {}
  void ClearLogLines() override {}
  void SelectLastLogLine() override {}
  void FocusLog() override {}
  void FocusProgButton() override {}
  void SelectRateAndProtocol(int, int) override {}
  void Synchronize(const std::function<void()>& fn) override { fn(); }
  void Post(int, std::function<void()>) override {}
  void RunCallsUntil(const std::function<bool()>&) override {}
};

std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

// "Save As..." takes the name the dialog gives (UTF-8 here): a documents folder named in
// Cyrillic letters is written to under that name, not under its bytes read in the code page.
TEST(Win32WindowFace, TheLogIsSavedUnderItsUnicodeName) {
  TDM dm;
  TQuietFace face;
  TMainModel model(dm, face);
  const std::string folder = TempDir() + "\\Документы";
  std::error_code ec;
  std::filesystem::remove_all(Utf8Path(folder), ec);
  ASSERT_TRUE(std::filesystem::create_directories(Utf8Path(folder)));
  const std::string log = folder + "\\журнал.txt";
  EXPECT_TRUE(model.SaveLogTo(log));
  EXPECT_TRUE(std::filesystem::is_regular_file(Utf8Path(log)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Utf8Path(folder)),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_FALSE(model.SaveLogTo(folder + "\\нет\\журнал.txt"));
  std::filesystem::remove_all(Utf8Path(folder), ec);
}
