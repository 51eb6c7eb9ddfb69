#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/ComRegistry.h"
#include "platform/CrashReport.h"
#include "platform/Event.h"
#include "platform/FileWrite.h"
#include "platform/Thread.h"
#include "platform/TimeStamp.h"
#include "platform/TimerQueue.h"
#include "platform/VersionInfo.h"
#include "tests/TestSupport.h"

using namespace std::chrono;
using plat::TEvent;

TEST(Event, AutoResetIsConsumedByOneWaitManualResetStays) {
  TEvent autoEvent(TEvent::ResetMode::Auto, true);
  EXPECT_TRUE(autoEvent.Wait(0));
  EXPECT_FALSE(autoEvent.Wait(20));
  TEvent manual(TEvent::ResetMode::Manual, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0));
}

TEST(Event, SetFromAnotherThreadEndsAWait) {
  TEvent event(TEvent::ResetMode::Auto, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(30));
    event.Set();
  });
  auto start = steady_clock::now();
  EXPECT_TRUE(event.Wait(5000));
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  setter.join();
}

TEST(StopSignal, WakesEveryWaitThatWatchesItAndStaysRaised) {
  plat::TStopSignal stop;
  TEvent a(TEvent::ResetMode::Auto, false), b(TEvent::ResetMode::Manual, false);
  std::atomic<int> stopped{0};
  std::thread waiterA([&] { stopped += a.Wait(-1, stop) == TEvent::TWait::Stopped; });
  std::thread waiterB([&] { stopped += b.Wait(60000, stop) == TEvent::TWait::Stopped; });
  std::thread sleeper([&] { stopped += !stop.SleepFor(60000); });
  std::this_thread::sleep_for(milliseconds(50));
  auto start = steady_clock::now();
  stop.Request();
  waiterA.join();
  waiterB.join();
  sleeper.join();
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  EXPECT_EQ(stopped, 3);
  // Raised for good: later waits end at once, and an event set meanwhile is kept for later.
  a.Set();
  EXPECT_EQ(a.Wait(60000, stop), TEvent::TWait::Stopped);
  EXPECT_TRUE(a.IsSet());
  EXPECT_FALSE(stop.SleepFor(60000));
}

TEST(StopSignal, WaitsWithoutAStopBehaveAsPlainWaits) {
  plat::TStopSignal stop;
  TEvent event(TEvent::ResetMode::Auto, false);
  EXPECT_EQ(event.Wait(20, stop), TEvent::TWait::TimedOut);
  event.Set();
  EXPECT_EQ(event.Wait(20, stop), TEvent::TWait::Signalled);
  EXPECT_FALSE(event.IsSet()) << "an auto-reset event is consumed";
  EXPECT_TRUE(stop.SleepFor(10));
}

TEST(TimerQueue, FiresOnceChangeRestartsDeleteWaitsForRunningCallback) {
  auto& queue = plat::TTimerQueue::Instance();
  std::atomic<int> fired{0};
  auto id = queue.Create([&] { ++fired; }, 30, 0);
  std::this_thread::sleep_for(milliseconds(120));
  EXPECT_EQ(fired, 1);

  std::atomic<bool> inside{false}, finished{false};
  auto slow = queue.Create(
      [&] {
        inside = true;
        std::this_thread::sleep_for(milliseconds(100));
        finished = true;
      },
      10, 0);
  while (!inside) std::this_thread::sleep_for(milliseconds(1));
  queue.Delete(slow);
  EXPECT_TRUE(finished) << "Delete returned while the callback was still running";
  queue.Delete(id);
}

namespace {

class TCountingThread : public plat::TThread {
 public:
  std::atomic<int> passes{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++passes;
      SuspendSelf();
    }
  }
};

}  // namespace

TEST(Thread, ResumeGivenBeforeTheWaitIsNotLostAndTerminateEndsTheBody) {
  auto thread = std::make_shared<TCountingThread>();
  EXPECT_FALSE(thread->Started());
  thread->Resume();
  while (thread->passes < 1) std::this_thread::sleep_for(milliseconds(1));
  thread->Resume();  // may come before or after the body waits: never lost
  while (thread->passes < 2) std::this_thread::sleep_for(milliseconds(1));
  thread->Terminate();
  thread->Resume();
  EXPECT_TRUE(thread->WaitFor(2000));
  EXPECT_EQ(thread->passes, 2);
}

TEST(Thread, BodyHoldingTheLastReferenceFreesItself) {
  std::weak_ptr<TCountingThread> weak;
  {
    auto thread = std::make_shared<TCountingThread>();
    weak = thread;
    thread->Terminate();
    thread->Resume();
  }
  for (int i = 0; i < 200 && !weak.expired(); ++i) std::this_thread::sleep_for(milliseconds(5));
  EXPECT_TRUE(weak.expired());
}

TEST(TimeStamp, IsHoursMinutesSecondsWithTheSeparator) {
  std::string stamp = plat::TimeStamp();
  char sep = plat::TimeSeparator();
  std::regex pattern(std::string("([01][0-9]|2[0-3])\\") + sep + "[0-5][0-9]\\" + sep +
                     "[0-5][0-9]");
  EXPECT_TRUE(std::regex_match(stamp, pattern)) << stamp;
}

TEST(ComRegistry, AliasesRuntimePathsAndNames) {
  TPtyPeer a(12), b(3);
  auto entries = plat::ListPortEntries();
  auto find = [&](int n) {
    for (auto& e : entries)
      if (e.Number == n) return e.Device;
    return std::string();
  };
  EXPECT_NE(find(12).find("COM12"), std::string::npos);
  EXPECT_NE(find(3).find("COM3"), std::string::npos);
  EXPECT_EQ(plat::DevicePathOf(999), "");

  // A path that an alias already names keeps that number; another path gets one from 100 up.
  EXPECT_EQ(plat::RegisterDevicePath(a.Path()), 12);
  plat::RemoveAlias(3);
  int number = plat::RegisterDevicePath(b.Path());
  EXPECT_GE(number, 100);
  EXPECT_EQ(plat::DevicePathOf(number), b.Path());
  EXPECT_EQ(plat::RegisterDevicePath("/nonexistent/device"), 0);
  plat::ClearRegisteredPaths();

  struct {
    const char* name;
    int number;
  } names[] = {{"COM7", 7}, {"com12", 12}, {"COM", 0}, {"COMx", 0}, {"LPT1", 0}, {"COM-1", 0}};
  for (auto& n : names) EXPECT_EQ(plat::PortNumberOf(n.name), n.number) << n.name;
}

// A killed simulator or a pulled adapter leaves its alias behind: that number names no port.
TEST(ComRegistry, AliasWhoseDeviceIsGoneIsNotListed) {
  TPtyPeer live(45);
  ASSERT_TRUE(plat::AddAlias(44, "/dev/pts/zv-gone"));
  bool listed44 = false, listed45 = false;
  for (auto& e : plat::ListPortEntries()) {
    listed44 = listed44 || e.Number == 44;
    listed45 = listed45 || e.Number == 45;
  }
  EXPECT_FALSE(listed44);
  EXPECT_TRUE(listed45);
  EXPECT_EQ(plat::DevicePathOf(44), "");
  plat::RemoveAlias(44);
}

namespace {

// A version block as the build writes it: magic, words, flags, translation, texts.
std::string VersionBlock(std::uint32_t flags, std::uint16_t lang, std::uint16_t codePage,
                         const std::vector<std::pair<std::string, std::string>>& texts) {
  std::string b = plat::VersionBlockMagic();
  auto u16 = [&](std::uint16_t v) {
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>(v >> 8));
  };
  for (std::uint16_t w : {2, 3, 0, 1, 1, 0, 0, 0}) u16(w);
  u16(static_cast<std::uint16_t>(flags & 0xFFFF));
  u16(static_cast<std::uint16_t>(flags >> 16));
  u16(lang);
  u16(codePage);
  u16(static_cast<std::uint16_t>(texts.size()));
  for (auto& [key, value] : texts) b += key + '\0' + value + '\0';
  return b;
}

}  // namespace

TEST(VersionInfo, FindsTheBlockInAFileAndReadsWhatItAnnounces) {
  const std::string path = TempDir() + "/version.bin";
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"InternalName", "ZV-8810 Firmware Updater"},
      {"FileVersion", "2.3.0.1"},
      {"PrivateBuild", "lab"},
      {"SpecialBuild", "line 4"}};
  struct {
    const char* name;
    std::string content;
    bool result;
    std::string internalName, privateBuild, specialBuild;
  } cases[] = {
      {"block inside other bytes", "junk" + VersionBlock(0x08, 0x0409, 0x04E4, texts) + "tail",
       true, "ZV-8810 Firmware Updater", "lab", ""},
      {"special build announced", VersionBlock(0x20, 0x0409, 0x04E4, texts), true,
       "ZV-8810 Firmware Updater", "", "line 4"},
      {"no translation table", VersionBlock(0, 0, 0, texts), false, "", "", ""},
      {"no block", "just bytes", false, "", "", ""},
      {"cut-off block", VersionBlock(0, 0x0409, 0x04E4, texts).substr(0, 40), false, "", "", ""},
  };
  for (auto& c : cases) {
    std::ofstream(path, std::ios::binary) << c.content;
    plat::TFileInfo info;
    EXPECT_EQ(plat::ReadFileInfo(path, info), c.result) << c.name;
    EXPECT_EQ(info.Strings.InternalName, c.internalName) << c.name;
    EXPECT_EQ(info.Strings.PrivateBuild, c.privateBuild) << c.name;
    EXPECT_EQ(info.Strings.SpecialBuild, c.specialBuild) << c.name;
    if (c.result) {
      EXPECT_EQ(info.Major, 2);
      EXPECT_EQ(info.Minor, 3);
      EXPECT_EQ(info.Release, 0);
      EXPECT_EQ(info.Build, 1);
    }
  }
}

// The command line carries the version block the build writes: file and product words 2.3.0.1,
// the product's text as the program has always shown it.
TEST(VersionInfo, TheProgramsOwnBlock) {
  plat::TFileInfo info;
  ASSERT_TRUE(plat::ReadFileInfo(CliPath(), info));
  ASSERT_TRUE(info.FixedFound);
  const std::vector<std::uint16_t> words = {2, 3, 0, 1};
  EXPECT_EQ(std::vector<std::uint16_t>(info.Fixed.FileVersion, info.Fixed.FileVersion + 4), words);
  EXPECT_EQ(std::vector<std::uint16_t>(info.Fixed.ProductVersion, info.Fixed.ProductVersion + 4),
            words);
  EXPECT_EQ(info.Strings.FileVersion, "2.3.0.1");
  EXPECT_EQ(info.Strings.ProductVersion, "1.0.0.0");
  EXPECT_EQ(info.Strings.CompanyName, "ORMEK");
}

// Reports and backups: the final name holds the old content or the whole new one, and nothing
// is left beside it, whichever way the write ends.
TEST(FileWriteReplacing, ReplacesWholeOrLeavesTheOldFileAndNoTemporary) {
  namespace fs = std::filesystem;
  const std::string dir = TempDir() + "/replacing";
  fs::create_directories(dir);
  const auto content = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  const auto leftovers = [&] {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir))
      count += entry.path().filename().string().find(".tmp") != std::string::npos;
    return count;
  };
  std::string reason;
  const std::string report = dir + "/report.json";
  ASSERT_TRUE(plat::WriteFileReplacing(report, std::string("old\0with a zero", 14), reason));
  EXPECT_EQ(content(report), std::string("old\0with a zero", 14));
  ASSERT_TRUE(plat::WriteFileReplacing(report, "new", reason)) << reason;
  EXPECT_EQ(content(report), "new");

  // A folder under the final name cannot be replaced; a missing folder takes no file at all.
  fs::create_directories(dir + "/taken");
  EXPECT_FALSE(plat::WriteFileReplacing(dir + "/taken", "x", reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(fs::is_directory(dir + "/taken"));
  reason.clear();
  EXPECT_FALSE(plat::WriteFileReplacing(dir + "/missing/report.json", "x", reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(leftovers(), 0);
}

// The report a window shows at its next start: the newest one not yet marked seen, by the time
// in its name; other files in the folder are not reports.
TEST(CrashReportFolder, TheNewestUnseenReportIsShownOnce) {
  const std::string folder = TempDir() + "/crash-reports/";
  std::filesystem::create_directories(folder);
  EXPECT_EQ(plat::UnseenCrashReport(folder), "") << "no report yet";
  EXPECT_EQ(plat::UnseenCrashReport(folder + "missing/"), "");
  for (const char* name :
       {"ZV8810_FWU-crash-20261211-101500-77.txt", "zv8810-fwu-crash-20261211-143749-22273.txt",
        "notes.txt", "zv8810-fwu-crash-20261211-143749-22273.dmp"})
    std::ofstream(folder + name) << "x";
  EXPECT_EQ(plat::UnseenCrashReport(folder), folder + "zv8810-fwu-crash-20261211-143749-22273.txt");
  plat::MarkCrashReportSeen(folder);
  EXPECT_EQ(plat::UnseenCrashReport(folder), "") << "shown once";
  std::ofstream(folder + "ZV8810_FWU-crash-20261212-080000-5.txt") << "x";
  EXPECT_EQ(plat::UnseenCrashReport(folder), folder + "ZV8810_FWU-crash-20261212-080000-5.txt");
}
