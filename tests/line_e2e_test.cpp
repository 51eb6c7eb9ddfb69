// The production line against several zv8810-sim at once: parallel jobs with their prefixed logs,
// summary, exit status and JSON report; read-back verification; the backup before erasing and
// its restore; bad input; and the station that programs receivers as they are plugged in.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "device/FlashContents.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;

namespace {

Bytes ReadBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadBinary(path);
  return std::string(bytes.begin(), bytes.end());
}

// The station's report has grown to this many lines (a job ended), waited for up to a minute: the
// bench's next step waits for what the station did, not for a time a loaded machine may exceed.
bool WaitForReportLines(const std::string& report, int lines) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string text = ReadText(report);
    if (std::count(text.begin(), text.end(), '\n') >= lines) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void WriteBinary(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A folder of this test's own.
struct TFiles {
  std::string dir =
      TempDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  TFiles() { fs::create_directories(dir); }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  std::string SystemFile(const std::string& name, std::uint32_t size, const std::string& major,
                         const std::string& minor, std::uint32_t seed) const {
    sim::TFirmwareSpec spec;
    spec.Size = size;
    spec.Major = major;
    spec.Minor = minor;
    spec.Date = "Dec 10 2026";
    spec.Seed = seed;
    WriteBinary(Path(name), sim::MakeSystemFile(spec));
    return Path(name);
  }
};

constexpr std::size_t FirmwareAt = sim::FirmwareBase - sim::FlashBase;

// The flash file holds exactly this system file's image at the firmware area.
::testing::AssertionResult FlashHolds(const std::string& flashPath, const std::string& file) {
  Bytes flash = ReadBinary(flashPath);
  Bytes image = sim::SystemImageOf(ReadBinary(file));
  if (flash.size() != sim::FlashSize) return ::testing::AssertionFailure() << "no flash file";
  if (!std::equal(image.begin(), image.end(), flash.begin() + FirmwareAt))
    return ::testing::AssertionFailure() << "the flash does not hold the image of " << file;
  return ::testing::AssertionSuccess();
}

// Lines of the output that start with the prefix.
std::vector<std::string> LinesOf(const std::string& out, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The device object of one port in a report (the writer puts "port" first).
std::string DeviceObject(const std::string& report, const std::string& port) {
  const std::string start = "{\"port\":\"" + port + "\"";
  std::size_t at = report.find(start);
  if (at == std::string::npos) return "";
  std::size_t end = report.find("{\"port\":", at + 1);
  return report.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

}  // namespace

TEST(LineE2E, SeveralPortsRunAtOnceWithPrefixesSummaryAndReport) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 20000, "3", "08", 1);
  const std::string flash = files.Path("good.img");
  TSimProcess good(74, {"--flash", flash});
  TSimProcess refuses(75, {"--fault", "erase-fail"});
  TSimProcess silent(76, {"--fault", "silent"});
  const std::string report = files.Path("report.json");
  TRunResult r = RunCli({"program", "--port", "COM74", "--port", "COM75", "--port", "COM76",
                         "--file", file, "--report", report});
  // The first failing port in the order given decides, not the first to fail.
  EXPECT_EQ(r.Exit, 4) << r.Out << r.Err;

  auto good74 = LinesOf(r.Out, "[COM74] ");
  EXPECT_TRUE(Contains(good74, "  Programming - done")) << r.Out;
  EXPECT_TRUE(Contains(good74, "Execution is successfully completed")) << r.Out;
  EXPECT_TRUE(Contains(LinesOf(r.Out, "[COM75] "), "  Erasing flash - Error (EEh)")) << r.Out;
  EXPECT_TRUE(Contains(LinesOf(r.Out, "[COM76] "), "  NMEA connecting - not answer")) << r.Out;
  EXPECT_NE(r.Err.find("[COM76] Receiver not answer!\n"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("[COM75] Error at flash erasing\n"), std::string::npos) << r.Err;
  // The summary: port, result, firmware read back, seconds, and why a port failed.
  EXPECT_TRUE(
      std::regex_search(r.Out, std::regex("\n\nport +result +firmware +seconds +reason\n"
                                          "COM74 +ok +3\\.08 +[0-9.]+\n"
                                          "COM75 +exit 4 +- +[0-9.]+ +Error at flash erasing\n"
                                          "COM76 +exit 6 +- +[0-9.]+ +Receiver not answer!\n$")))
      << r.Out;
  EXPECT_EQ(r.Out.find("\nCOM75: "), std::string::npos) << "the reasons stand in the table";
  good.Stop();
  EXPECT_TRUE(FlashHolds(flash, file));

  const std::string json = ReadText(report);
  ASSERT_FALSE(json.empty()) << r.Err;
  EXPECT_EQ(json.rfind("{\"tool\":\"zv8810-fwu\",\"version\":\"2.3.0.1\",\"command\":\"program\","
                       "\"file\":{\"path\":\"" +
                           file + "\",\"size\":20000,\"sum\":\"0x",
                       0),
            0u)
      << json;
  EXPECT_NE(json.find("\"description\":{\"device\":\"ZV8810\",\"version\":\"3.08\""),
            std::string::npos)
      << json;
  EXPECT_TRUE(std::regex_search(
      json, std::regex("\"started\":\"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}[+-][0-9]{2}:[0-9]{2}\","
                       "\"finished\":\"[0-9T:+-]+\",\"devices\":\\[\\{\"port\":\"COM74\"")))
      << json;
  const std::string d74 = DeviceObject(json, "COM74"), d75 = DeviceObject(json, "COM75"),
                    d76 = DeviceObject(json, "COM76");
  EXPECT_NE(d74.find("\"ok\":true,\"exit\":0,\"result\":1,\"message\":\"Execution is "
                     "successfully completed\",\"versions\":{\"bootloader\":{\"version\":"
                     "\"03.07\",\"date\":\"07/09/09\"},\"firmware\":{\"version\":\"3.08\""),
            std::string::npos)
      << d74;
  EXPECT_NE(d74.find("\"verified\":null,\"backup\":null,\"seconds\":"), std::string::npos) << d74;
  EXPECT_NE(d74.find("\"  Programming - done\""), std::string::npos) << d74;
  EXPECT_NE(d75.find("\"ok\":false,\"exit\":4,\"result\":4,\"message\":\"Error at flash "
                     "erasing\""),
            std::string::npos)
      << d75;
  // The silent receiver never reached the programming thread.
  EXPECT_NE(d76.find("\"ok\":false,\"exit\":6,\"result\":null,\"message\":\"Receiver not "
                     "answer!\",\"versions\":{\"bootloader\":null,\"firmware\":null}"),
            std::string::npos)
      << d76;
  EXPECT_NE(d76.find("\"log\":[\"Execution is started - "), std::string::npos) << d76;
}

TEST(LineE2E, VerifyReadsTheImageBackAndCatchesALostByte) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 30000, "3", "08", 2);
  struct {
    const char* name;
    std::vector<std::string> sim;
    int exit;
    std::string verifyLine;
    std::string verified;
  } cases[] = {
      {"flash keeps every byte", {}, 0, "  Verifying - done", "true"},
      // Byte 300 of the image (the header is 8 of them) changes after the check word matched.
      {"flash loses a byte",
       {"--fault", "lose=300"},
       5,
       "  Verifying - Error: differs at 0x0101012C",
       "false"},
  };
  for (auto& c : cases) {
    std::vector<std::string> simArgs = {"--flash", files.Path("flash.img")};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    TSimProcess sim(77, simArgs);
    const std::string report = files.Path("verify.json");
    TRunResult r =
        RunCli({"program", "--port", "COM77", "--file", file, "--verify", "--report", report});
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Out.find("\n" + c.verifyLine + "\n"), std::string::npos) << c.name << "\n" << r.Out;
    // The check word was accepted before the comparison ran.
    EXPECT_NE(r.Out.find("  Programming - done\n  Verifying"), std::string::npos) << r.Out;
    EXPECT_NE(ReadText(report).find("\"verified\":" + c.verified), std::string::npos) << c.name;
    if (c.exit != 0) {
      EXPECT_NE(r.Err.find("Error at programming"), std::string::npos) << r.Err;
    }
  }
}

TEST(LineE2E, VerifyingLineIsInRussianToo) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 3000, "3", "08", 3);
  TSimProcess sim(78, {"--fault", "lose=20"});
  TRunResult r = RunCli({"program", "--port", "COM78", "--file", file, "--verify", "--lang", "ru"});
  EXPECT_EQ(r.Exit, 5) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("  Проверка записи - ошибка: отличие по адресу 0x01010014\n"),
            std::string::npos)
      << r.Out;
}

// The flash as a simulator leaves it: factory contents, then changed by the test.
Bytes FactoryFlash(const TFiles& files) {
  const std::string path = files.Path("factory.img");
  { TSimProcess sim(79, {"--flash", path}); }
  return ReadBinary(path);
}

TEST(LineE2E, BackupSavesTheFirmwareBeforeErasingAndProgramRestoresIt) {
  TFiles files;
  const std::string old = files.SystemFile("old.bin", 40000, "3", "05", 4);
  const std::string fresh = files.SystemFile("new.bin", 20000, "3", "09", 5);
  const std::string flash = files.Path("flash.img");
  const std::string backups = files.Path("backups");  // created by the run
  {
    TSimProcess sim(80, {"--flash", flash, "--firmware", old});
    TRunResult r = RunCli({"program", "--port", "COM80", "--file", fresh, "--backup", backups});
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("  Backing up firmware - done\n  Erasing flash - done\n"),
              std::string::npos)
        << r.Out;
  }
  EXPECT_TRUE(FlashHolds(flash, fresh));
  std::vector<fs::path> saved;
  for (auto& entry : fs::directory_iterator(backups)) saved.push_back(entry.path());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_TRUE(std::regex_match(saved[0].filename().string(),
                               std::regex("COM80-3\\.05-[0-9]{8}-[0-9]{6}\\.bin")))
      << saved[0];
  EXPECT_EQ(ReadBinary(saved[0].string()), ReadBinary(old));
  {
    TSimProcess sim(80, {"--flash", flash});
    TRunResult r = RunCli({"program", "--port", "COM80", "--file", saved[0].string()});
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  }
  EXPECT_TRUE(FlashHolds(flash, old));
}

TEST(LineE2E, BackupOfAnErasedOrDamagedFirmware) {
  TFiles files;
  const std::string fresh = files.SystemFile("new.bin", 20000, "3", "09", 6);
  const Bytes factory = FactoryFlash(files);
  ASSERT_EQ(factory.size(), sim::FlashSize);
  Bytes erased = factory;
  std::fill(erased.begin() + FirmwareAt, erased.end(), 0xFF);
  Bytes damaged = factory;
  damaged[FirmwareAt + 8 + 5000] ^= 0x10;  // a file byte: the header's sum no longer matches
  Bytes tooLong = factory;
  tooLong[FirmwareAt + 3] = 0x01;  // announces 16 MiB: beyond the area
  struct {
    const char* name;
    Bytes flash;
    int exit;
    std::string line;
    bool programmed;
    bool savedDamaged;
  } cases[] = {
      {"erased", erased, 0, "  Backing up firmware - no firmware to back up", true, false},
      {"beyond the area", tooLong, 0, "  Backing up firmware - no firmware to back up", true,
       false},
      // A damaged firmware (a write cut short) must not block its own recovery.
      {"sum differs", damaged, 0,
       "  Backing up firmware - Warning: the firmware is damaged (the sum differs), saved as it is",
       true, true},
  };
  for (auto& c : cases) {
    const std::string flash = files.Path("flash.img");
    const std::string backups = files.Path(std::string("backups-") + std::to_string(&c - cases));
    WriteBinary(flash, c.flash);
    {
      TSimProcess sim(81, {"--flash", flash});
      TRunResult r = RunCli({"program", "--port", "COM81", "--file", fresh, "--backup", backups});
      EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
      EXPECT_NE(r.Out.find("\n" + c.line + "\n"), std::string::npos) << c.name << "\n" << r.Out;
      EXPECT_EQ(r.Out.find("Erasing flash") != std::string::npos, c.programmed) << r.Out;
      // The receiver goes back to its firmware either way.
      EXPECT_NE(r.Out.find("  System restarting - done"), std::string::npos) << r.Out;
    }
    if (c.savedDamaged) {
      // Kept as it was read, under a name that says what it is.
      std::vector<fs::path> saved(fs::directory_iterator(backups), fs::directory_iterator{});
      ASSERT_EQ(saved.size(), 1u) << c.name;
      EXPECT_NE(saved[0].filename().string().find("COM81-3.05-damaged-"), std::string::npos)
          << saved[0];
      const Bytes kept = ReadBinary(saved[0].string());
      ASSERT_GE(kept.size(), 5001u);
      EXPECT_TRUE(std::equal(kept.begin(), kept.end(), c.flash.begin() + FirmwareAt + 8));
    } else {
      EXPECT_TRUE(fs::is_empty(backups)) << c.name;
    }
    if (c.programmed)
      EXPECT_TRUE(FlashHolds(flash, fresh)) << c.name;
    else
      EXPECT_EQ(ReadBinary(flash), c.flash) << c.name << ": nothing may be erased";
  }
}

TEST(LineE2E, BadInputIsFoundBeforeAnyJobStarts) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 3000, "3", "08", 7);
  WriteBinary(files.Path("plain"), {1, 2, 3});
  TSimProcess sim(82, {});
  struct {
    const char* name;
    std::vector<std::string> args;
    int exit;
    std::string err;
  } cases[] = {
      {"the same port twice", {"--port", "COM82", "--port", "COM82"}, 64, "given twice"},
      {"one port by two names",
       {"--port", "COM82", "--port", sim.DevicePath()},
       64,
       "are the same port (COM82)"},
      {"report in a missing folder",
       {"--port", "COM82", "--report", files.Path("none/r.json")},
       73,
       "does not exist"},
      {"backup folder under a file",
       {"--port", "COM82", "--backup", files.Path("plain/backups")},
       73,
       "--backup"},
  };
  for (auto& c : cases) {
    std::vector<std::string> args = {"program", "--file", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
    EXPECT_EQ(r.Out.find("Execution is started"), std::string::npos) << c.name << ": a job ran";
  }
}

TEST(LineE2E, APortThatCannotBeOpenedFailsAloneWhileTheOthersGoOn) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 3000, "3", "08", 8);
  TSimProcess sim(83, {});
  const std::string report = files.Path("r.json");
  TRunResult r =
      RunCli({"versions", "--port", "/dev/zv-no-such-port", "--port", "COM83", "--report", report});
  EXPECT_EQ(r.Exit, 7) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("[/dev/zv-no-such-port] Could not open /dev/zv-no-such-port!\n"
                       "[/dev/zv-no-such-port] /dev/zv-no-such-port: "),
            std::string::npos)
      << r.Err;
  EXPECT_TRUE(Contains(LinesOf(r.Out, "[COM83] "), "Firmware version: 3.05 (26/11/09)")) << r.Out;
  const std::string json = ReadText(report);
  EXPECT_NE(json.find("\"command\":\"versions\",\"file\":null"), std::string::npos) << json;
  EXPECT_NE(DeviceObject(json, "/dev/zv-no-such-port")
                .find("\"ok\":false,\"exit\":7,"
                      "\"result\":null,\"message\":"
                      "\"Could not open "
                      "/dev/zv-no-such-port!\""),
            std::string::npos)
      << json;
  EXPECT_NE(DeviceObject(json, "COM83").find("\"ok\":true,\"exit\":0,\"result\":1"),
            std::string::npos)
      << json;
}

TEST(LineE2E, CtrlCStopsEveryJobAndLeavesEveryReceiverUsable) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 204800, "3", "08", 10);
  // With line timing a run takes well over the six seconds: the stop finds both jobs running.
  TSimProcess first(86, {"--timing"});
  TSimProcess second(87, {"--timing"});
  TRunResult r =
      RunCliInterrupted({"program", "--port", "COM86", "--port", "COM87", "--file", file}, 6000);
  EXPECT_EQ(r.Exit, 130) << r.Out << r.Err;
  EXPECT_LT(r.SecondsAfterInterrupt, 5.0) << r.Out;
  for (const std::string port : {"COM86", "COM87"}) {
    auto lines = LinesOf(r.Out, "[" + port + "] ");
    ASSERT_FALSE(lines.empty()) << r.Out;
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("Execution is stopped - .*")))
        << port << "\n"
        << r.Out;
    EXPECT_TRUE(std::regex_search(r.Out, std::regex("\n" + port + " +stopped "))) << r.Out;
  }
  // Both receivers went back to their firmware and answer a new job.
  TRunResult after = RunCli({"versions", "--port", "COM86", "--port", "COM87"});
  EXPECT_EQ(after.Exit, 0) << after.Out << after.Err;
}

TEST(LineE2E, StationProgramsEachReceiverThatAppearsOnce) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 3000, "3", "09", 9);
  const std::string report = files.Path("station.jsonl");
  const std::string before = files.Path("before.img"), after = files.Path("after.img");
  // Connected before the station starts: left alone.
  TSimProcess already(84, {"--flash", before});
  std::atomic<bool> done{false}, ended{false};  // Ctrl+C asked; the station ended
  std::thread bench([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    {
      TSimProcess plugged(85, {"--flash", after});
      WaitForReportLines(report, 1);  // programmed, stays a moment
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }  // unplugged (its alias goes away) ...
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    TSimProcess again(85, {});  // ... and plugged again: programmed once more
    WaitForReportLines(report, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // nothing more happens
    done = true;
    while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  TRunResult r = RunProgramInterruptedWhen(
      CliPath(), {"station", "--file", file, "--report", report}, [&] { return done.load(); },
      180000);
  ended = true;
  bench.join();
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_TRUE(std::regex_match(r.Out, std::regex("COM85  ok  3\\.09  [0-9.]+ s\n"
                                                 "1 done, 0 failed\n"
                                                 "COM85  ok  3\\.09  [0-9.]+ s\n"
                                                 "2 done, 0 failed\n")))
      << r.Out << r.Err;
  already.Stop();
  EXPECT_FALSE(FlashHolds(before, file)) << "the receiver present at the start was programmed";
  EXPECT_TRUE(FlashHolds(after, file));
  const std::string lines = ReadText(report);
  EXPECT_TRUE(std::regex_match(
      lines, std::regex("(\\{\"port\":\"COM85\",[^\n]*\"ok\":true,[^\n]*\"finished\":\"[^\"]+\","
                        "\"log\":\\[[^\n]*\\]\\}\n){2}")))
      << lines;
}

// A file is judged before any port is opened: only a file for this receiver goes out, a file
// without a description block only with --force; the wire of a good file stays as it is.
TEST(LineE2E, TheFileIsCheckedBeforeAnythingIsSent) {
  TFiles files;
  const std::string good = files.SystemFile("fw.bin", 20000, "3", "09", 11);
  sim::TFirmwareSpec other;
  other.Size = 20000;
  other.DeviceId = "QX4400";
  WriteBinary(files.Path("qx.bin"), sim::MakeSystemFile(other));
  Bytes noise(5000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 97 + 13);
  WriteBinary(files.Path("g.dat"), noise);
  const std::string text = "release notes: version 3.09\n";
  WriteBinary(files.Path("notes.txt"), Bytes(text.begin(), text.end()));
  const std::string flash = files.Path("flash.img");
  TSimProcess sim(140, {"--flash", flash});
  struct {
    const char* name;
    std::vector<std::string> args;
    int exit;
    std::string err;  // on standard error
  } cases[] = {
      {"random bytes", {"--file", files.Path("g.dat")}, 65, "has no description block"},
      {"a text file", {"--file", files.Path("notes.txt")}, 65, "run again with --force"},
      {"another device", {"--file", files.Path("qx.bin")}, 65, "is for the device QX4400"},
      {"another device, forced", {"--file", files.Path("qx.bin"), "--force"}, 65, "QX4400"},
      {"another version",
       {"--file", good, "--expect-version", "3.08"},
       65,
       "holds version 3.09, not 3.08"},
      {"two files", {"--file", good, "--file", files.Path("g.dat")}, 64, "--file is given twice"},
      {"two reports",
       {"--file", good, "--report", files.Path("a.json"), "--report", files.Path("b.json")},
       64,
       "--report is given twice"},
  };
  for (auto& c : cases) {
    std::vector<std::string> args = {"program", "--port", "COM140"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
    EXPECT_EQ(r.Out, "") << c.name << ": nothing may start";
  }
  // Without a block and with --force it is written, and the report says so.
  const std::string report = files.Path("forced.json");
  TRunResult forced = RunCli({"program", "--port", "COM140", "--file", files.Path("g.dat"),
                              "--force", "--report", report});
  EXPECT_EQ(forced.Exit, 0) << forced.Out << forced.Err;
  EXPECT_NE(forced.Err.find("written because --force was given"), std::string::npos) << forced.Err;
  EXPECT_NE(ReadText(report).find("\"description\":null,\"forced\":true}"), std::string::npos)
      << ReadText(report);
  // The version the line expects: written as without the check.
  TRunResult expected =
      RunCli({"program", "--port", "COM140", "--file", good, "--expect-version", "3.09"});
  EXPECT_EQ(expected.Exit, 0) << expected.Out << expected.Err;
  EXPECT_EQ(expected.Err, "");
  sim.Stop();
  EXPECT_TRUE(FlashHolds(flash, good));
}

// The end of the line: the firmware read back against its own header, and the version expected.
TEST(LineE2E, VersionsCheckTellsAWholeFirmwareFromAHalfWrittenOne) {
  TFiles files;
  const Bytes factory = FactoryFlash(files);
  ASSERT_EQ(factory.size(), sim::FlashSize);
  // As a write stopped after its first frames leaves it: the header (length and sum) and the
  // description block are there, the rest of the file is erased.
  Bytes halfWritten = factory;
  std::fill(halfWritten.begin() + FirmwareAt + 8 + 4096, halfWritten.begin() + FirmwareAt + 0x30000,
            0xFF);
  struct {
    const char* name;
    Bytes flash;
    std::vector<std::string> args;
    int exit;
    std::string line, err;
  } cases[] = {
      {"whole", factory, {"--check"}, 0, "  Checking the firmware - firmware complete", ""},
      {"whole, expected version",
       factory,
       {"--check", "--expect", "3.05"},
       0,
       "  Checking the firmware - firmware complete",
       ""},
      {"another version",
       factory,
       {"--expect", "3.09"},
       10,
       "Firmware version: 3.05 (26/11/09)",
       "Firmware version 3.05, expected 3.09"},
      {"half written",
       halfWritten,
       {"--check", "--expect", "3.05"},
       9,
       "  Checking the firmware - firmware incomplete or damaged",
       "The firmware is incomplete or damaged"},
      {"half written, not checked", halfWritten, {}, 0, "Firmware version: 3.05 (26/11/09)", ""},
  };
  const std::string flash = files.Path("flash.img");
  for (auto& c : cases) {
    WriteBinary(flash, c.flash);
    TSimProcess sim(141, {"--flash", flash});
    std::vector<std::string> args = {"versions", "--port", "COM141"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args, 120000);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Out.find("\n" + c.line + "\n"), std::string::npos) << c.name << "\n" << r.Out;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
    EXPECT_NE(r.Out.find("  System restarting - done"), std::string::npos) << c.name;
  }
}

// In ZORP the receiver says who it is: the report, the summary and probe show it.
TEST(LineE2E, TheReceiversIdentityInZorp) {
  TFiles files;
  const std::string report = files.Path("r.json");
  TSimProcess first(142, {"--protocol", "zorp"});
  TSimProcess second(143, {"--protocol", "zorp"});
  TRunResult r = RunCli({"versions", "--protocol", "zorp", "--port", "COM142", "--port", "COM143",
                         "--report", report});
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  const std::string identity =
      "module ZV8810-000417, id ZV-8810 GNSS module, made 2009-11-26, device ZV-8810";
  EXPECT_TRUE(std::regex_search(r.Out, std::regex("\nport +result +firmware +seconds +receiver\n"
                                                  "COM142 +ok +3\\.05 +[0-9.]+ +" +
                                                  identity + "\n")))
      << r.Out;
  EXPECT_NE(
      DeviceObject(ReadText(report), "COM143")
          .find("\"receiver\":{\"module_number\":\"ZV8810-000417\",\"module_id\":\"ZV-8810 "
                "GNSS module\",\"production_date\":\"2009-11-26\",\"device_id\":\"ZV-8810\"}"),
      std::string::npos)
      << ReadText(report);
  TRunResult probe = RunCli({"probe", "--protocol", "zorp", "--port", "COM142"});
  EXPECT_EQ(probe.Exit, 0) << probe.Err;
  EXPECT_NE(probe.Out.find("Receiver answers: ZORP, 115200 bit/s, COM142 (" + identity + ")\n"),
            std::string::npos)
      << probe.Out;
}

// The station reads, checks and sums its file once: a bad file stops it at start, a file replaced
// while it runs changes nothing, and every line of its report names the file it wrote.
TEST(LineE2E, StationReadsItsFileOnceAndNoticesAFastReplug) {
  TFiles files;
  fs::create_directories(files.Path("folder.bin"));
  WriteBinary(files.Path("empty.bin"), {});
  WriteBinary(files.Path("g.dat"), Bytes(4000, 0x5A));
  struct {
    const char* name;
    std::string file;
    int exit;
    std::string err;
  } bad[] = {
      {"empty", files.Path("empty.bin"), 65, "The system file is empty"},
      {"a folder", files.Path("folder.bin"), 66, "is a folder"},
      {"missing", files.Path("none.bin"), 66, "not found"},
      {"no description block", files.Path("g.dat"), 65, "--force"},
  };
  for (auto& c : bad) {
    TRunResult r = RunCli({"station", "--file", c.file}, 10000);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Err;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
  }

  const std::string file = files.SystemFile("fw.bin", 3000, "3", "09", 12);
  const Bytes original = ReadBinary(file);
  const std::string report = files.Path("station.jsonl");
  const std::string flash = files.Path("flash.img");
  std::atomic<bool> done{false}, ended{false};  // Ctrl+C asked; the station ended
  std::thread bench([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    auto plugged = std::make_unique<TSimProcess>(144, std::vector<std::string>{"--flash", flash});
    WaitForReportLines(report, 1);  // programmed, stays
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The file changes under the running station: the next receiver still gets the first one.
    files.SystemFile("fw.bin", 3000, "4", "00", 13);
    // Unplugged and plugged again at once, faster than a look at the port list.
    plugged.reset();
    plugged = std::make_unique<TSimProcess>(144, std::vector<std::string>{"--flash", flash});
    WaitForReportLines(report, 2);
    // A receiver that never answers the erase: Ctrl+C finds its job running (the erase's
    // time-out is far longer than the moment given to reach it).
    TSimProcess stuck(145, {"--fault", "erase-silent"});
    std::this_thread::sleep_for(std::chrono::milliseconds(5000));
    done = true;
    while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  TRunResult r = RunProgramInterruptedWhen(
      CliPath(), {"station", "--file", file, "--report", report}, [&] { return done.load(); },
      180000);
  ended = true;
  bench.join();
  EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
  EXPECT_TRUE(std::regex_match(r.Out, std::regex("COM144  ok  3\\.09  [0-9.]+ s\n"
                                                 "1 done, 0 failed\n"
                                                 "COM144  ok  3\\.09  [0-9.]+ s\n"
                                                 "2 done, 0 failed\n"
                                                 "COM145  stopped  -  [0-9.]+ s  Stopped on "
                                                 "request \\(Ctrl\\+C or SIGTERM\\)\n"
                                                 "2 done, 1 failed\n")))
      << r.Out << r.Err;
  EXPECT_NE(r.Err.find("station: file " + file + ", 3000 bytes, sum 0x"), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find(", version 3.09, device ZV8810\n"), std::string::npos) << r.Err;
  Bytes flashed = ReadBinary(flash);
  ASSERT_EQ(flashed.size(), sim::FlashSize);
  const Bytes image = sim::SystemImageOf(original);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flashed.begin() + FirmwareAt))
      << "the second receiver did not get the file the station started with";
  const std::string lines = ReadText(report);
  EXPECT_TRUE(std::regex_match(
      lines,
      std::regex("(\\{\"port\":\"COM144\",[^\n]*\"ok\":true,[^\n]*\"file\":\\{\"path\":\"" + file +
                 "\",\"size\":3000,\"sum\":\"0x[0-9A-F]{8}\",\"description\":\\{\"device\":"
                 "\"ZV8810\",\"version\":\"3.09\"[^\n]*\"forced\":false\\},\"finished\":"
                 "[^\n]*\n){2}"
                 "\\{\"port\":\"COM145\",[^\n]*\"ok\":false,\"exit\":130,\"result\":"
                 "\"stopped\",\"message\":\"Stopped on request[^\n]*\n")))
      << lines;
}

// A fixture whose adapter stays plugged in: each receiver that starts answering is programmed
// once and left alone while it answers; the next one, after a silence, is programmed again.
TEST(LineE2E, StationFixtureProgramsEachReceiverThatStartsAnswering) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 3000, "3", "09", 14);
  const std::string first = files.Path("first.img"), second = files.Path("second.img");
  const std::string report = files.Path("station.jsonl");
  std::atomic<bool> done{false}, ended{false};  // Ctrl+C asked; the station ended
  std::thread bench([&] {
    {
      TSimProcess sim(146, {"--flash", first});
      WaitForReportLines(report, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // programmed, answering
    }                                                                // taken out of the fixture
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    TSimProcess next(146, {"--flash", second});
    WaitForReportLines(report, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // left alone while it answers
    done = true;
    while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  TRunResult r = RunProgramInterruptedWhen(
      CliPath(), {"station", "--fixture", "--port", "COM146", "--file", file, "--report", report},
      [&] { return done.load(); }, 180000);
  ended = true;
  bench.join();
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_TRUE(std::regex_match(r.Out, std::regex("COM146  ok  3\\.09  [0-9.]+ s\n"
                                                 "1 done, 0 failed\n"
                                                 "COM146  ok  3\\.09  [0-9.]+ s\n"
                                                 "2 done, 0 failed\n")))
      << r.Out << r.Err;
  EXPECT_TRUE(FlashHolds(first, file));
  EXPECT_TRUE(FlashHolds(second, file));
}

// A job cut short by a pulled cable: the report says it stopped and why, not a stage's code. A
// cable pulled after the check word was accepted leaves a written receiver: the job succeeded,
// and the report says so with the stage's code, its message telling of the lost port.
TEST(LineE2E, AJobStoppedByALostPortIsReportedAsSuch) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 20000, "3", "08", 15);
  const struct {
    const char* fault;
    int exit;
    const char* head;  // the report's fields before the message
  } cases[] = {
      {"drop=5", 8, "\"ok\":false,\"exit\":8,\"result\":\"stopped\","},
      {"drop-after-check", 0, "\"ok\":true,\"exit\":0,\"result\":1,"},
  };
  for (const auto& c : cases) {
    const std::string report = files.Path("r.json");
    const std::string flash = files.Path("flash.img");
    TSimProcess sim(147, {"--fault", c.fault, "--flash", flash});
    TRunResult r = RunCli({"program", "--port", "COM147", "--file", file, "--report", report});
    sim.Stop();
    EXPECT_EQ(r.Exit, c.exit) << c.fault << "\n" << r.Out << r.Err;
    EXPECT_TRUE(std::regex_search(
        ReadText(report),
        std::regex(std::string(c.head) + "\"message\":\"The port COM147 \\([^)]+\\) was "
                                         "lost: check the cable and the adapter\\.\"")))
        << c.fault << "\n"
        << ReadText(report);
    EXPECT_EQ(FlashHolds(flash, file), c.exit == 0) << c.fault;
  }
}

// A program killed in the middle of a write leaves the receiver in its resident: the next job
// only hears silence and says what to try; probe --resident brings the receiver back.
TEST(LineE2E, AReceiverLeftInItsResidentIsFoundAndRestarted) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 204800, "3", "09", 16);
  TSimProcess sim(148, {"--timing"});
  // Killed while frames are being written (the harness kills what outlives its time).
  TRunResult killed = RunProgram(CliPath(), {"program", "--port", "COM148", "--file", file}, 7000);
  ASSERT_EQ(killed.Err.rfind("timed out\n", 0), 0u) << "not killed mid-write:\n" << killed.Out;
  TRunResult silent = RunCli({"versions", "--port", "COM148"});
  EXPECT_EQ(silent.Exit, 6) << silent.Out << silent.Err;
  EXPECT_NE(silent.Err.find("Receiver not answer!\nIf the receiver was left in its bootloader"),
            std::string::npos)
      << silent.Err;
  EXPECT_EQ(silent.Out.find("bootloader"), std::string::npos) << "the hint is on standard error";
  TRunResult restart = RunCli({"probe", "--port", "COM148", "--resident"});
  EXPECT_EQ(restart.Exit, 0) << restart.Out << restart.Err;
  EXPECT_NE(restart.Out.find("  Resident, 115200 bit/s - restarted\n"), std::string::npos)
      << restart.Out;
  TRunResult back = RunCli({"probe", "--port", "COM148"});
  EXPECT_EQ(back.Exit, 0) << "the receiver runs its firmware again\n" << back.Out << back.Err;
  TRunResult none = RunCli({"probe", "--port", "COM148", "--resident"});
  EXPECT_EQ(none.Exit, 6) << none.Out << none.Err;
}
