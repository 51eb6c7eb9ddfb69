// Whole jobs of the programming engine against zv8810-sim: zv8810-fwu versions and program in
// every reset method and protocol, every failure row with its status text and result code, and
// the version inquiry's edge cases. Every success is checked against the persisted flash.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "device/FlashContents.h"
#include "platform/SerialDevice.h"
#include "tests/TestSupport.h"

namespace {

const std::string T = "[0-9]{2}.[0-9]{2}.[0-9]{2}";

Bytes ReadBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBinary(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// The log lines of a job, each a literal text with T standing for a time stamp.
std::string LogPattern(const std::vector<std::string>& lines) {
  std::string pattern = "^";
  for (const std::string& line : lines) {
    std::string escaped = Escape(line);
    pattern += std::regex_replace(escaped, std::regex("TIME"), T) + "\n";
  }
  return pattern;
}

struct TFiles {
  std::string dir =
      TempDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  TFiles() { std::filesystem::create_directories(dir); }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  // A sample system file of the given size and version.
  std::string SystemFile(const std::string& name, std::uint32_t size, const std::string& major,
                         const std::string& minor, std::uint32_t blockOffset = 0x200) const {
    sim::TFirmwareSpec spec;
    spec.Size = size;
    spec.Major = major;
    spec.Minor = minor;
    spec.Date = "Dec 10 2026";
    spec.BlockOffset = blockOffset;
    spec.Seed = size;
    WriteBinary(Path(name), sim::MakeSystemFile(spec));
    return Path(name);
  }
};

// The flash holds exactly the image the updater writes (header included) at 0x01010000.
::testing::AssertionResult FlashHolds(const std::string& flashPath, const std::string& file) {
  Bytes flash = ReadBinary(flashPath);
  Bytes image = sim::SystemImageOf(ReadBinary(file));
  const std::size_t at = sim::FirmwareBase - sim::FlashBase;
  if (flash.size() != sim::FlashSize) return ::testing::AssertionFailure() << "no flash file";
  if (!std::equal(image.begin(), image.end(), flash.begin() + at))
    return ::testing::AssertionFailure() << "the flash does not hold the image";
  return ::testing::AssertionSuccess();
}

const std::vector<std::string> kProgramTail = {
    "  Connecting - done",
    "  Initialization - done",
    "  Erasing flash - done",
    "  Programming - done",
    "  Inquiry of the bootloader version - done  .::03.07::07/09/09::.",
    "  Inquiry of the firmware version - done  .::3.08::10/12/26::.",
    "  System restarting - done",
    "Execution is finished - TIME",
    "Execution is successfully completed",
    "",
    "Firmware version: 3.08 (10/12/26)",
    "Bootloader version: 03.07 (07/09/09)",
};

}  // namespace

TEST(EngineE2E, ProgramsInEveryProtocolAndResetMethod) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 204800, "3", "08");
  struct {
    const char* name;
    std::vector<std::string> sim;
    std::vector<std::string> cli;
    std::string connecting;  // the window's connecting line; empty for Manual
  } cases[] = {
      {"Auto, NMEA at 115200 (not reopened)", {}, {}, "  NMEA connecting - done"},
      {"Auto, NMEA at 9600 (reopened)",
       {"--baud", "9600"},
       {"--baud", "9600"},
       "  NMEA connecting - done"},
      {"Auto, ZORP (reopened)",
       {"--protocol", "zorp", "--baud", "57600"},
       {"--protocol", "zorp", "--baud", "57600"},
       "  ZORP connecting - done"},
      {"Manual", {}, {"--reset", "manual"}, ""},
  };
  for (auto& c : cases) {
    const std::string flash =
        files.Path(std::string("flash-") + std::to_string(&c - cases) + ".img");
    std::vector<std::string> simArgs = {"--flash", flash};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    TSimProcess sim(71, simArgs);
    std::vector<std::string> args = {"program", "--port", "COM71", "--file", file};
    args.insert(args.end(), c.cli.begin(), c.cli.end());
    std::thread operatorHand;
    if (c.connecting.empty())  // the operator power-cycles the receiver during the countdown
      operatorHand = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        sim.Signal(SIGUSR1);
      });
    TRunResult r = RunCli(args);
    if (operatorHand.joinable()) operatorHand.join();
    std::vector<std::string> lines = {"Execution is started - TIME"};
    lines.push_back(c.connecting.empty() ? "  Switch the receiver off and on now" : c.connecting);
    lines.insert(lines.end(), kProgramTail.begin(), kProgramTail.end());
    EXPECT_EQ(r.Exit, 0) << c.name << "\n" << r.Out << r.Err;
    EXPECT_TRUE(std::regex_search(r.Out, std::regex(LogPattern(lines) + "$"))) << c.name << "\n"
                                                                               << r.Out;
    sim.Stop();
    EXPECT_TRUE(FlashHolds(flash, file)) << c.name;
  }
}

struct TFailureRow {
  const char* name;
  std::vector<std::string> sim;
  bool tooLarge;                   // the system file does not fit the flash area
  std::vector<std::string> lines;  // expected in this order among the log lines
  int exit;
  std::string message;
};

void PrintTo(const TFailureRow& row, std::ostream* out) {
  *out << row.name;
}

class FailureRows : public ::testing::TestWithParam<TFailureRow> {};

TEST_P(FailureRows, EndWithTheirStatusAndCode) {
  const TFailureRow& c = GetParam();
  TFiles files;
  const std::string file = c.tooLarge ? files.SystemFile("big.bin", 0xF0000, "9", "99")
                                      : files.SystemFile("fw.bin", 20000, "3", "08");
  TSimProcess sim(72, c.sim);
  TRunResult r = RunCli({"program", "--port", "COM72", "--file", file});
  EXPECT_EQ(r.Exit, c.exit) << r.Out << r.Err;
  std::string pattern = "(^|\n)";
  for (std::size_t i = 0; i < c.lines.size(); ++i)
    pattern += (i > 0 ? "(.*\n)*" : "") +
               std::regex_replace(Escape(c.lines[i]), std::regex("TIME"), T) + "\n";
  EXPECT_TRUE(std::regex_search(r.Out, std::regex(pattern))) << r.Out;
  EXPECT_NE(r.Err.find(c.message + "\n"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out.find("successfully"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    EngineE2E, FailureRows,
    ::testing::Values(
        TFailureRow{"NoRestartAcknowledgement",
                    {"--fault", "no-restart-ack"},
                    false,
                    {"  Connecting - Error: no restart acknowledgement", "Error - TIME"},
                    2,
                    "Error at connecting"},
        TFailureRow{"NoGreeting",
                    {"--fault", "no-greeting"},
                    false,
                    {"  Connecting - Error: not answer", "Error - TIME"},
                    2,
                    "Error at connecting"},
        TFailureRow{"ResidentSilent",
                    {"--fault", "resident-silent"},
                    false,
                    {"  Initialization - Error", "Error - TIME"},
                    3,
                    "Error at inicialization"},
        TFailureRow{"EraseRefusedEE",
                    {"--fault", "erase-fail"},
                    false,
                    {"  Erasing flash - Error (EEh)", "  System restarting - done", "Error - TIME"},
                    4,
                    "Error at flash erasing"},
        TFailureRow{"FileLargerThanTheFlashArea",
                    {},
                    true,
                    {"  Erasing flash - Error (ECh)", "Error - TIME"},
                    4,
                    "Error at flash erasing"},
        TFailureRow{
            "FrameUnanswered",
            {"--fault", "frame-silent=3"},
            false,
            {"  Programming - Error: not answer", "Repeated execution", "  Erasing flash - done",
             "  Programming - Error: not answer", "  System restarting - done", "Error - TIME"},
            5,
            "Error at programming"},
        TFailureRow{
            "FrameRefused",
            {"--fault", "frame-refuse=2:ED"},
            false,
            {"  Programming - Error (EDh)", "Repeated execution", "  Programming - Error (EDh)"},
            5,
            "Error at programming"},
        TFailureRow{
            "WriteFailsTwice",
            {"--fault", "program-fail-always=4"},
            false,
            {"  Programming - Error (E1h)", "Repeated execution", "  Programming - Error (E1h)"},
            5,
            "Error at programming"},
        TFailureRow{
            "SecondEraseFails",
            {"--fault", "program-fail=4", "--fault", "erase-fail=2"},
            false,
            {"  Programming - Error (E1h)", "Repeated execution", "  Erasing flash - Error (EEh)"},
            4,
            "Error at flash erasing"},
        TFailureRow{
            "CheckWordRefused",
            {"--fault", "check-refuse"},
            false,
            {"  Programming - Error (FEh)", "Repeated execution", "  Programming - Error (FEh)"},
            5,
            "Error at programming"},
        TFailureRow{
            "CheckWordUnanswered",
            {"--fault", "check-silent"},
            false,
            {"  Programming - Error (00h)", "Repeated execution", "  Programming - Error (00h)"},
            5,
            "Error at programming"}),
    [](const ::testing::TestParamInfo<TFailureRow>& info) { return std::string(info.param.name); });

TEST(EngineE2E, WriteFailingOnceSucceedsOnTheRepeatedExecution) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 30000, "3", "08");
  struct {
    const char* name;
    std::string fault;
    std::string firstFailure;
  } cases[] = {{"programming fails once", "program-fail=5", "  Programming - Error (E1h)"},
               {"a flipped bit in a frame", "flip=3000", "  Programming - Error (EDh)"}};
  for (auto& c : cases) {
    const std::string flash = files.Path(std::string(c.fault) + ".img");
    TSimProcess sim(73, {"--flash", flash, "--fault", c.fault});
    TRunResult r = RunCli({"program", "--port", "COM73", "--file", file});
    EXPECT_EQ(r.Exit, 0) << c.name << "\n" << r.Out << r.Err;
    std::string pattern = Escape(c.firstFailure) +
                          "\nRepeated execution\n  Erasing flash - done\n  Programming - done\n";
    EXPECT_TRUE(std::regex_search(r.Out, std::regex(pattern))) << c.name << "\n" << r.Out;
    sim.Stop();
    EXPECT_TRUE(FlashHolds(flash, file)) << c.name;
  }
}

// The pause before the restart frame, read off the wire trace: from the last bytes before it to
// the frame itself. A finished write leaves the resident taking command frames, so the short
// pause applies, not the write phase's second of silence.
TEST(EngineE2E, TheRestartFrameFollowsAFinishedWriteAfterItsShortPause) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 20000, "3", "08");
  TSimProcess sim(80, {});
  TRunResult r = RunCli({"program", "--trace", "--port", "COM80", "--file", file});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  const std::regex traced(R"(^(\d\d):(\d\d):(\d\d)\.(\d{3}) COM80 (<<|>>) (.*)$)");
  std::istringstream lines(r.Err);
  std::string line;
  long previousMs = -1, pauseMs = -1;
  for (std::smatch m; std::getline(lines, line);) {
    if (!std::regex_match(line, m, traced)) continue;
    const long ms =
        ((std::stol(m[1]) * 60 + std::stol(m[2])) * 60 + std::stol(m[3])) * 1000 + std::stol(m[4]);
    if (m[5] == ">>" && m[6] == "00 C2 01 00 5A 00 00 00 00") pauseMs = ms - previousMs;
    previousMs = ms;
  }
  ASSERT_GE(pauseMs, 0) << "no restart frame in the trace\n" << r.Err;
  EXPECT_GE(pauseMs, 199) << "the resident needs its pause before the restart frame";
  EXPECT_LT(pauseMs, 1000) << "a finished write waited out the write phase's silence";
}

TEST(EngineE2E, PulledCableEndsTheJobAtOnceAndSaysSo) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 20000, "3", "08");
  // The simulator closes its terminal when data frame 5 starts, as an unplugged adapter.
  TSimProcess sim(74, {"--fault", "drop=5"});
  TRunResult r = RunCli({"program", "--port", "COM74", "--file", file});
  EXPECT_EQ(r.Exit, 8) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("  Programming - Error: the port was lost\n"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("System restarting"), std::string::npos) << "no restart could be sent";
  EXPECT_EQ(r.Out.find("successfully"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      r.Err,
      std::regex("\nThe port COM74 \\(.+\\) was lost: check the cable and the adapter\\.\n")))
      << r.Err;
  EXPECT_LT(r.Seconds, 15) << "the loss ends the job, no time-out is waited out";
}

TEST(EngineE2E, VersionInquiryEdgeCases) {
  TFiles files;
  struct {
    const char* name;
    std::uint32_t size;
    std::uint32_t blockOffset;
    std::string firmwareStatus;
    int exit;
    std::string message;
  } cases[] = {
      {"firmware without a description block", 5000, 6000, "no data", 0,
       "Bootloader version: 03.07 (07/09/09)\n"},
      // in flash the marker starts 5 bytes before a 128-byte border (8-byte header first)
      {"block across a 128-byte border", 60000, 128 * 100 - 8 - 5, "done  .::1.23::10/12/26::.", 0,
       "Firmware version: 1.23 (10/12/26)\n\nBootloader version: 03.07 (07/09/09)\n"},
      {"firmware longer than the scan span", 300000, 0x200, "done  .::1.23::10/12/26::.", 0,
       "Firmware version: 1.23 (10/12/26)\n\nBootloader version: 03.07 (07/09/09)\n"},
  };
  for (auto& c : cases) {
    const std::string fw = files.SystemFile("v.bin", c.size, "1", "23", c.blockOffset);
    TSimProcess sim(75, {"--firmware", fw});
    TRunResult r = RunCli({"versions", "--port", "COM75"});
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Out.find("  Inquiry of the firmware version - " + c.firmwareStatus + "\n"),
              std::string::npos)
        << c.name << "\n"
        << r.Out;
    EXPECT_NE(r.Out.find(c.message), std::string::npos) << c.name << "\n" << r.Out;
    EXPECT_TRUE(std::regex_search(r.Out, std::regex("  System restarting - done\n$")))
        << "the parked thread is stopped with the restart: " << c.name << "\n"
        << r.Out;
  }
}

TEST(EngineE2E, VersionsWithNoBlockReadableAchievesNothing) {
  TFiles files;
  const std::string flash = files.Path("blank.img");
  Bytes blank(sim::FlashSize, 0xFF);  // neither identification block anywhere
  WriteBinary(flash, blank);
  TSimProcess sim(76, {"--flash", flash, "--state", "bootloader"});
  TRunResult r = RunCli({"versions", "--port", "COM76", "--reset", "manual"});
  EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("  Inquiry of the bootloader version - no data\n"), std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("  Inquiry of the firmware version - no data\n"), std::string::npos)
      << r.Out;
  EXPECT_NE(r.Err.find("Error\n"), std::string::npos) << r.Err;
}

TEST(EngineE2E, RussianTextsAndTheInterruptedJob) {
  TFiles files;
  const std::string file = files.SystemFile("fw.bin", 20000, "3", "08");
  {
    TSimProcess sim(77, {"--fault", "no-restart-ack"});
    TRunResult r = RunCli({"program", "--port", "COM77", "--file", file, "--lang", "ru"});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_NE(r.Out.find("  Подключение по протоколу NMEA - выполнено\n"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("  Ожидание ответа загрузчика - ошибка (нет подтверждения перезапуска)\n"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Err.find("Ошибка: Нет ответа загрузчика\n"), std::string::npos) << r.Err;
  }
  {
    TSimProcess sim(78, {"--fault", "no-greeting"});
    std::thread interrupter([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      std::system("pkill -INT -f 'zv8810-fwu program --port COM78'");
    });
    TRunResult r = RunCli({"program", "--port", "COM78", "--file", file});
    interrupter.join();
    EXPECT_EQ(r.Exit, 130) << r.Out << r.Err;
    EXPECT_LT(r.Seconds, 9) << "stopped before the greeting's ten seconds ran out";
    EXPECT_EQ(r.Out.find("Execution is finished"), std::string::npos);
  }
}

TEST(EngineE2E, InputsThatStopTheJobBeforeItStarts) {
  TFiles files;
  TRunResult missing = RunCli({"program", "--port", "COM79", "--file", files.Path("none.bin")});
  EXPECT_EQ(missing.Exit, 66);
  EXPECT_NE(missing.Err.find("File \"" + files.Path("none.bin") +
                             "\" not found!\nError at system file reading!\n"),
            std::string::npos)
      << missing.Err;
  // A folder and an empty file are refused before the port is opened (COM79 has no device yet).
  std::filesystem::create_directories(files.Path("folder.bin"));
  const std::string empty = files.Path("empty.bin");
  WriteBinary(empty, {});
  struct {
    std::vector<std::string> args;
    int exit;
    std::string err;
  } const refused[] = {
      {{"--file", files.Path("folder.bin")},
       66,
       "\"" + files.Path("folder.bin") +
           "\" is a folder, not a system file!\nError at system file reading!\n"},
      {{"--file", empty}, 65, "The system file is empty\nError at system file reading!\n"},
      {{"--file", empty, "--lang", "ru"}, 65, "Файл системы пуст\nОшибка чтения файла системы !\n"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> args = {"program", "--port", "COM79"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, c.exit) << r.Err;
    EXPECT_EQ(r.Err, c.err);
    EXPECT_EQ(r.Out.find("Execution is started"), std::string::npos) << r.Out;
  }
  const std::string file = files.SystemFile("fw.bin", 2000, "3", "08");
  // A port that cannot be opened ends the start with its reason, and "Manual" says exactly what
  // "Auto" says: the operator is not asked to power-cycle a receiver the job cannot reach.
  struct {
    const char* name;
    bool busy;  // held by another program
    std::vector<std::string> args;
    std::string err;  // how the message begins
  } const unopened[] = {
      {"missing, Auto", false, {}, "Could not open COM79!\nCOM79: "},
      {"missing, Manual", false, {"--reset", "manual"}, "Could not open COM79!\nCOM79: "},
      {"in use, Auto", true, {}, "Could not open COM79!\n"},
      {"in use, Manual", true, {"--reset", "manual"}, "Could not open COM79!\n"},
      {"in use, Manual, Russian",
       true,
       {"--reset", "manual", "--lang", "ru"},
       "Ошибка открытия COM79!\n"},
  };
  std::string autoErr[2];
  for (const auto& c : unopened) {
    std::unique_ptr<TSimProcess> holder;
    plat::TSerialDevice held;
    if (c.busy) {
      holder = std::make_unique<TSimProcess>(79, std::vector<std::string>{});
      ASSERT_TRUE(held.Open(holder->DevicePath())) << c.name;
    }
    std::vector<std::string> args = {"program", "--port", "COM79", "--file", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, 7) << c.name << "\n" << r.Out << r.Err;
    EXPECT_EQ(r.Err.rfind(c.err, 0), 0u) << c.name << "\n" << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 2) << c.name << ": the reason\n"
                                                               << r.Err;
    EXPECT_EQ(r.Out.find("Execution is started"), std::string::npos) << c.name << "\n" << r.Out;
    if (c.args.empty()) {
      autoErr[c.busy] = r.Err;
    } else if (c.args.size() == 2) {
      EXPECT_EQ(r.Err, autoErr[c.busy]) << c.name;
    }
  }
  // A device path that is no serial port: the reason line names the path.
  TRunResult notSerial = RunCli({"versions", "--port", file});
  EXPECT_EQ(notSerial.Exit, 7);
  EXPECT_NE(notSerial.Err.find("\n" + file + ": "), std::string::npos) << notSerial.Err;
  TSimProcess sim(79, {"--fault", "silent"});
  TRunResult silent = RunCli({"versions", "--port", "COM79"});
  EXPECT_EQ(silent.Exit, 6);
  EXPECT_NE(silent.Out.find("  NMEA connecting - not answer\n"), std::string::npos) << silent.Out;
  EXPECT_NE(silent.Err.find("Receiver not answer!\n"), std::string::npos) << silent.Err;
}

TEST(EngineE2E, AFileLongerThanTheAreaIsRefusedByTheResidentAndTheLimitNamed) {
  TFiles files;
  const std::string file = files.SystemFile("long.bin", 983033, "3", "08");
  const std::string flash = files.Path("flash.img");
  TSimProcess sim(62, {"--flash", flash, "--stream", "0"});
  TRunResult r = RunCli({"program", "--port", "COM62", "--file", file});
  EXPECT_EQ(r.Exit, 4) << r.Err;
  EXPECT_NE(r.Out.find("  Erasing flash - Error (ECh)\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find("Error at flash erasing\nThe file \"" + file +
                       "\" is longer than the receiver's firmware area: at most 983,032 bytes.\n"),
            std::string::npos)
      << r.Err;
  sim.Stop();
  const Bytes kept = ReadBinary(flash);
  ASSERT_EQ(kept.size(), sim::FlashSize);
  EXPECT_EQ(kept[sim::FirmwareBase - sim::FlashBase + 8], 0x06) << "the factory firmware stays";
}
