// zv8810-sim's own behaviour, seen from the line: it answers only with the right settings, and
// restarts into its bootloader, which greets.
#include <gtest/gtest.h>
#include <signal.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/ComRegistry.h"
#include "platform/SerialDevice.h"
#include "tests/TestSupport.h"

namespace {

std::string AsText(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// Opens the simulator's device with the given settings, the way the port engine does.
struct TLineEnd {
  plat::TSerialDevice device;
  TLineEnd(const std::string& path, int baud, std::uint8_t parity) {
    EXPECT_TRUE(device.Open(path));
    plat::TLineSettings s;
    s.BaudRate = baud;
    s.Parity = parity;
    EXPECT_TRUE(device.Apply(s));
    device.Purge();
  }
  void Send(const std::string& text) {
    device.Write(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
  }
  std::string ReadFor(int ms) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      std::uint8_t buffer[512];
      int n = 0;
      if (device.Read(buffer, sizeof buffer, n, static_cast<int>(left.count())) ==
          plat::TIoStatus::Done)
        got.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
    }
    return got;
  }
};

}  // namespace

TEST(Simulator, AnswersPollsOnlyWithMatchingLineSettings) {
  TSimProcess sim(51, {"--baud", "9600", "--stream", "0"});
  struct {
    int baud;
    std::uint8_t parity;
    bool answers;
  } cases[] = {{9600, 0, true}, {115200, 0, false}, {9600, 1, false}};
  for (auto& c : cases) {
    TLineEnd line(sim.DevicePath(), c.baud, c.parity);
    line.Send("$GPGPQ,PORZE*2F\r\n");
    std::string got = line.ReadFor(300);
    EXPECT_EQ(got.find("$PORZE,") != std::string::npos, c.answers) << c.baud << " " << got;
  }
}

TEST(Simulator, RestartSendsRestartThenTheBootloaderGreetsAtItsOwnRate) {
  TSimProcess sim(52, {"--stream", "0"});
  TLineEnd line(sim.DevicePath(), 115200, 0);
  line.Send("$PORST,F*20\r\n");
  std::string got = line.ReadFor(1600);
  EXPECT_EQ(got.rfind("Restart\r\n", 0), 0u) << got;
  EXPECT_NE(got.find("#$#%"), std::string::npos) << got;
  EXPECT_EQ(AsText({}), "");
  line.Send("\xCC");
  std::string after = line.ReadFor(1300);
  EXPECT_EQ(after.find("#$#%"), std::string::npos) << "an answered greeting is not repeated";
}

TEST(Simulator, PowerCycleAndBadChecksums) {
  TSimProcess sim(53, {"--stream", "0"});
  TLineEnd line(sim.DevicePath(), 115200, 0);
  line.Send("$GPGPQ,PORZE*2E\r\n$PORST,F*21\r\n");  // wrong checksums: ignored
  EXPECT_EQ(line.ReadFor(300), "");
  sim.Signal(SIGUSR1);
  EXPECT_NE(line.ReadFor(600).find("#$#%"), std::string::npos);
}

TEST(Simulator, StreamsItsOwnOutput) {
  TSimProcess sim(54, {"--stream", "100"});
  TLineEnd line(sim.DevicePath(), 115200, 0);
  std::string got = line.ReadFor(450);
  EXPECT_NE(got.find("$GPGGA,"), std::string::npos) << got;
  EXPECT_NE(got.find("$GPRMC,"), std::string::npos) << got;
}

namespace {

// The fields of an NMEA sentence (between "$" and "*"), split at the commas.
std::vector<std::string> FieldsOf(const std::string& sentence) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : sentence.substr(1, sentence.find('*') - 1)) {
    if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else {
      field.push_back(c);
    }
  }
  fields.push_back(field);
  return fields;
}

// Seconds since 1970 of an RMC's "hhmmss.ss" and "ddmmyy" (years 2000 to 2099).
double UtcSecondsOf(const std::string& time, const std::string& date) {
  std::tm tm{};
  tm.tm_hour = std::stoi(time.substr(0, 2));
  tm.tm_min = std::stoi(time.substr(2, 2));
  tm.tm_sec = std::stoi(time.substr(4, 2));
  tm.tm_mday = std::stoi(date.substr(0, 2));
  tm.tm_mon = std::stoi(date.substr(2, 2)) - 1;
  tm.tm_year = 100 + std::stoi(date.substr(4, 2));
  return static_cast<double>(timegm(&tm)) + std::stoi(time.substr(7, 2)) / 100.0;
}

double SecondsSince1970(std::chrono::system_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace

// The NMEA time and date are the host's UTC time, or the --clock start, and advance with real
// time at any output period: two ticks 200 ms apart are 0.2 s apart, not a second. A start just
// before midnight at the end of February 2031 (not a leap year) turns into the 1st of March.
TEST(Simulator, NmeaClockFollowsRealTime) {
  struct {
    const char* clock;  // nullptr: the host's UTC time
    const char* time;   // the same start as NMEA fields
    const char* date;
  } cases[] = {{"2031-02-28T23:59:59.50", "235959.50", "280231"}, {nullptr, nullptr, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clock ? c.clock : "host");
    std::vector<std::string> args = {"--stream", "200"};
    if (c.clock) args.insert(args.end(), {"--clock", c.clock});
    const auto before = std::chrono::system_clock::now();
    TSimProcess sim(56, args);
    TLineEnd line(sim.DevicePath(), 115200, 0);
    const std::string got = line.ReadFor(700);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::system_clock::now() - before).count();
    const double start = c.clock ? UtcSecondsOf(c.time, c.date) : SecondsSince1970(before);

    std::vector<std::vector<std::string>> gga, rmc;
    for (std::size_t at = got.find('$'); at != std::string::npos; at = got.find('$', at + 1)) {
      const std::string sentence = got.substr(at, got.find('\r', at) - at);
      if (sentence.rfind("$GPGGA,", 0) == 0) gga.push_back(FieldsOf(sentence));
      if (sentence.rfind("$GPRMC,", 0) == 0) rmc.push_back(FieldsOf(sentence));
    }
    ASSERT_GE(rmc.size(), 2u) << got;
    ASSERT_FALSE(gga.empty()) << got;
    EXPECT_EQ(gga[0][1], rmc[0][1]) << "one tick, one time";
    double previous = 0;
    for (std::size_t i = 0; i < 2; ++i) {
      ASSERT_GE(rmc[i].size(), 10u) << got;
      const std::string& time = rmc[i][1];
      ASSERT_EQ(time.size(), 9u) << time << ": hhmmss.ss";
      const double t = UtcSecondsOf(time, rmc[i][9]);
      EXPECT_GE(t, start + 0.15) << time << " " << rmc[i][9] << ": the first tick is 200 ms in";
      EXPECT_LE(t, start + elapsed + 0.05) << time << " " << rmc[i][9];
      if (i > 0) {
        EXPECT_GE(t - previous, 0.15) << time;
        EXPECT_LE(t - previous, 0.5) << time << ": the clock runs with real time";
      }
      previous = t;
    }
  }
}

// A simulator whose terminal nobody reads (a job ended, the port is closed) sleeps: its output
// is lost as a real UART's, and it does not spin on a full terminal.
TEST(Simulator, SleepsWhileNobodyReads) {
  TSimProcess sim(57, {"--protocol", "zorp", "--stream", "20"});
  const TRunResult probe = RunCli({"probe", "--port", "COM57", "--protocol", "zorp"});
  ASSERT_EQ(probe.Exit, 0) << probe.Out << probe.Err;
  // About 27 KB a second of output fills the terminal within a second or two.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  auto cpuSeconds = [&] {
    std::ifstream stat("/proc/" + std::to_string(sim.Pid()) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
    long long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
  };
  const double cpuBefore = cpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double cpu = cpuSeconds() - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  // Asleep it takes well under 1 % of a core; spinning it took 20 to 40 %.
  EXPECT_LT(cpu / wall, 0.10) << cpu << " s of CPU in " << wall << " s";
  const std::string errors = sim.Stop();
  EXPECT_NE(errors.find("dropped="), std::string::npos) << errors;
  EXPECT_EQ(errors.find("dropped=0\n"), std::string::npos) << "the unread output was lost";
}

namespace {

std::string MkfwPath() {
  return ZV_MKFW_PATH;
}

std::string WriteFile(const std::string& name, std::size_t size, char fill) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << std::string(size, fill);
  return path;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// Everything the command line names is checked before the receiver comes up: the simulator ends
// at once with 64 and the reason, and touches no file.
TEST(SimulatorOptions, BadOptionsEndWith64AndTheReason) {
  const std::string folder = TempDir();
  const std::string odd = WriteFile("odd-size.img", 1000, 'x');
  const std::string regular = WriteFile("not-a-link", 10, 'y');
  struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--fault", "flip=99999999999999999999"}, "fault flip takes a number"},
      {{"--fault", "frame-refuse=3"}, "fault frame-refuse takes"},
      {{"--fault"}, "--fault takes a value"},
      {{"--baud", "1"}, "--baud takes a bit rate"},
      {{"--baud", "99999999999"}, "--baud takes a bit rate"},
      {{"--baud", "-9600"}, "--baud takes a bit rate"},
      {{"--stream", "1s"}, "--stream takes milliseconds"},
      {{"--protocol", "sirf"}, "--protocol takes nmea or zorp"},
      {{"--state", "resident"}, "--state takes firmware or bootloader"},
      {{"--clock", "2031-02-29T00:00:00"}, "--clock takes a UTC date and time"},
      {{"--clock", "2031-03-01 12:00:00"}, "--clock takes a UTC date and time"},
      {{"--com", "LPT1"}, "--com takes a name"},
      {{"--speed", "9600"}, "unknown option --speed"},
      {{"--firmware", folder}, "is a folder"},
      {{"--firmware", folder + "/missing.bin"}, "No such file"},
      {{"--flash", folder}, "is a folder"},
      {{"--flash", folder + "/no/such/folder/flash.img"}, "cannot write in"},
      {{"--flash", odd}, "holds 1000 bytes, not a flash image"},
      {{"--link", regular}, "is not a symbolic link"},
  };
  for (const auto& c : cases) {
    TRunResult r = RunProgram(SimPath(), c.args, 10000);
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    EXPECT_EQ(r.Exit, 64) << shown << r.Err;
    EXPECT_NE(r.Err.find(c.reason), std::string::npos) << shown << r.Err;
    EXPECT_EQ(r.Out.find("ready"), std::string::npos) << shown;
  }
  EXPECT_EQ(ReadWhole(odd), std::string(1000, 'x')) << "a file that is no flash image is kept";
  EXPECT_EQ(ReadWhole(regular), std::string(10, 'y')) << "--link never removes a file";
  EXPECT_FALSE(std::filesystem::exists(odd + ".tmp"));
  EXPECT_FALSE(std::filesystem::exists(folder + ".tmp"));
}

TEST(SimulatorOptions, AnEmptyFlashFileIsANewOneAndIsWrittenAtExit) {
  const std::string flash = WriteFile("empty-flash.img", 0, 0);
  {
    TSimProcess sim(55, {"--flash", flash, "--stream", "0"});
    ASSERT_TRUE(sim.Running());
    sim.Stop();
  }
  const std::string image = ReadWhole(flash);
  ASSERT_EQ(image.size(), 0x100000u);
  EXPECT_EQ(image.substr(0x480, 7), "Kuvreth") << "the factory flash";
}

TEST(SampleFileMaker, RefusesBadOptionsAndWritesNothing) {
  const std::string out = TempDir() + "/mkfw-refused.bin";
  struct {
    std::vector<std::string> args;
    int exit;
    const char* reason;
  } cases[] = {
      {{out, "--size", "-1"}, 64, "--size takes a number of bytes"},
      {{out, "--size", "abc"}, 64, "--size takes a number of bytes"},
      {{out, "--size", "4294967296"}, 64, "--size takes a number of bytes"},
      {{out, "--size", "20000000"}, 64, "from 0 to 16777216"},
      {{out, "--size"}, 64, "--size takes a value"},
      {{out, "--seed", "1e3"}, 64, "--seed takes a number"},
      {{out, "--version", ".5"}, 64, "--version takes M.m"},
      {{out, "--version", "1234.5"}, 64, "--version takes M.m"},
      {{out, "--comment", std::string(31, 'c')}, 64, "--comment holds at most 30"},
      {{out, "--date", "December 10th 2026"}, 64, "--date holds at most 12"},
      {{out, "--size", "100", "--block-offset", "10"}, 64, "does not fit a file of 100 bytes"},
      {{out, "other.bin"}, 64, "one output file only"},
      {{"--size", "10"}, 64, "name the file to write"},
      {{out, "--colour", "red"}, 64, "unknown option --colour"},
      {{TempDir()}, 73, "is a folder"},
  };
  for (const auto& c : cases) {
    TRunResult r = RunProgram(MkfwPath(), c.args, 10000);
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    EXPECT_EQ(r.Exit, c.exit) << shown << r.Err;
    EXPECT_NE(r.Err.find(c.reason), std::string::npos) << shown << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out)) << shown;
  }
}

TEST(SampleFileMaker, WritesFilesOfAnySizeItAccepts) {
  for (std::uint32_t size : {0u, 1u, 2u, 3u, 31u, 92u, 93u + 0x200u, 204800u}) {
    const std::string out = TempDir() + "/mkfw-" + std::to_string(size) + ".bin";
    TRunResult r = RunProgram(MkfwPath(), {out, "--size", std::to_string(size)}, 10000);
    EXPECT_EQ(r.Exit, 0) << size << r.Err;
    const std::string file = ReadWhole(out);
    EXPECT_EQ(file.size(), size);
    const bool block = file.find("=== Device ID") != std::string::npos;
    EXPECT_EQ(block, size >= 0x200 + 93) << size;
  }
}
