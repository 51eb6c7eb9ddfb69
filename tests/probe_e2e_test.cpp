// The command line's probe and ports against zv8810-sim over a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <thread>

#include "tests/TestSupport.h"

namespace {

const std::string kTime = "[0-9]{2}.[0-9]{2}.[0-9]{2}";

bool Matches(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

}  // namespace

TEST(ProbeE2E, AnswersAndRestartsInBothProtocols) {
  struct {
    std::vector<std::string> sim;
    std::vector<std::string> probe;
    std::string logPattern;
  } cases[] = {
      {{"--protocol", "nmea"}, {"--protocol", "NMEA"}, "^\\*COM41 connection OK: " + kTime + "\n"},
      {{"--protocol", "nmea", "--baud", "9600"},
       {"--baud", "9600"},
       "^\\*COM41 connection OK: " + kTime + "\n"},
      {{"--protocol", "zorp", "--baud", "38400"},
       {"--protocol", "zorp", "--baud", "38400"},
       "Module №: ZV8810-000417\n(.*\n)*Device Id: ZV-8810\n(.*\n)*restart: " + kTime + "\n"},
  };
  for (auto& c : cases) {
    TSimProcess sim(41, c.sim);
    std::vector<std::string> args = {"probe", "--port", "COM41", "--restart"};
    args.insert(args.end(), c.probe.begin(), c.probe.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_TRUE(Matches(r.Out, c.logPattern)) << r.Out;
    EXPECT_TRUE(Matches(r.Out, "Receiver restarted into its bootloader\n$")) << r.Out;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(Matches(sim.Stop(), "bootloader")) << "the receiver went into its bootloader";
  }
}

TEST(ProbeE2E, FailuresHaveTheirExitStatusAndMessage) {
  struct {
    const char* name;
    std::vector<std::string> sim;  // empty: no simulator
    std::vector<std::string> probe;
    int exit;
    std::string err;
    double minSeconds, maxSeconds;
  } cases[] = {
      {"silent receiver", {"--fault", "silent"}, {}, 6, "Receiver not answer!\n", 2.8, 5.0},
      {"wrong protocol", {"--protocol", "zorp"}, {}, 6, "Receiver not answer!\n", 2.8, 5.0},
      {"wrong bit rate",
       {"--baud", "9600"},
       {"--baud", "19200"},
       6,
       "Receiver not answer!",
       2.8,
       5.0},
      {"no restart acknowledgement",
       {"--fault", "no-restart-ack"},
       {"--restart"},
       2,
       "Error: no restart acknowledgement\n",
       1.9,
       4.0},
      {"ZORP receiver that streams fast and never answers",
       {"--protocol", "zorp", "--fault", "no-answer", "--stream", "200"},
       {"--protocol", "zorp"},
       6,
       "Receiver not answer!\n",
       2.8,
       5.0},
      {"NMEA receiver that streams and never answers",
       {"--fault", "no-answer", "--stream", "200"},
       {},
       6,
       "Receiver not answer!\n",
       2.8,
       5.0},
      {"Russian", {"--fault", "silent"}, {"--lang", "ru"}, 6, "Приемник не отвечает!\n", 2.8, 5.0},
  };
  for (auto& c : cases) {
    std::unique_ptr<TSimProcess> sim;
    if (!c.sim.empty()) sim = std::make_unique<TSimProcess>(42, c.sim);
    std::vector<std::string> args = {"probe", "--port", "COM42"};
    args.insert(args.end(), c.probe.begin(), c.probe.end());
    TRunResult r = RunCli(args);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
    EXPECT_GE(r.Seconds, c.minSeconds) << c.name;
    EXPECT_LE(r.Seconds, c.maxSeconds) << c.name;
  }
}

TEST(ProbeE2E, SilentReceiverLogsTheVerdictLines) {
  TSimProcess sim(43, {"--fault", "silent"});
  TRunResult r = RunCli({"probe", "--port", sim.DevicePath()});
  EXPECT_EQ(r.Exit, 6);
  EXPECT_TRUE(Matches(r.Out, "^\\*Device not answer on COM[0-9]+: " + kTime +
                                 "\n\\*COM[0-9]+ disconnected: " + kTime + "\n$"))
      << r.Out;
}

TEST(ProbeE2E, PortsThatCannotBeOpened) {
  TRunResult missing = RunCli({"probe", "--port", "COM44"});
  EXPECT_EQ(missing.Exit, 7);
  EXPECT_TRUE(Matches(missing.Err, "^Could not open COM44!\nCOM44: .+\n$")) << missing.Err;
  TRunResult path = RunCli({"probe", "--port", "/dev/zv8810-none"});
  EXPECT_EQ(path.Exit, 7);
  EXPECT_TRUE(
      Matches(path.Err, "^Could not open /dev/zv8810-none!\n/dev/zv8810-none: no such device"))
      << path.Err;
}

// --scan: the given protocol and rate first, then the other protocol, then the other rates.
TEST(ProbeE2E, ScanFindsTheProtocolAndRateOrSaysNothingAnswered) {
  struct {
    const char* name;
    std::vector<std::string> sim;  // empty: no simulator
    std::vector<std::string> probe;
    int exit;
    std::string out, err;
  } cases[] = {
      {"NMEA at 9600 while ZORP at 115200 is asked",
       {"--protocol", "nmea", "--baud", "9600"},
       {"--protocol", "zorp"},
       0,
       "  ZORP, 115200 bit/s - not answer\n  NMEA, 115200 bit/s - not answer\n"
       "  ZORP, 9600 bit/s - not answer\n  NMEA, 9600 bit/s - answers\n"
       "Receiver answers: NMEA, 9600 bit/s, COM47\n$",
       ""},
      {"the given settings answer at once",
       {"--protocol", "zorp", "--baud", "38400"},
       {"--protocol", "zorp", "--baud", "38400"},
       0,
       "^Looking for the receiver on COM47\n  ZORP, 38400 bit/s - answers\n"
       "Receiver answers: ZORP, 38400 bit/s, COM47\n$",
       ""},
      {"silent at every setting",
       {"--fault", "silent"},
       {},
       6,
       "  ZORP, 230400 bit/s - not answer\n$",
       "The receiver answers at no protocol and bit rate: check the cable, the port and the "
       "receiver's power\n"},
      {"no such port", {}, {}, 7, "", "Could not open COM47!\nCOM47: "},
  };
  for (auto& c : cases) {
    std::unique_ptr<TSimProcess> sim;
    if (!c.sim.empty()) sim = std::make_unique<TSimProcess>(47, c.sim);
    std::vector<std::string> args = {"probe", "--port", "COM47", "--scan"};
    args.insert(args.end(), c.probe.begin(), c.probe.end());
    TRunResult r = RunCli(args, 90000);
    EXPECT_EQ(r.Exit, c.exit) << c.name << "\n" << r.Out << r.Err;
    if (!c.out.empty()) {
      EXPECT_TRUE(Matches(r.Out, c.out)) << c.name << "\n" << r.Out;
    }
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << c.name << "\n" << r.Err;
  }
}

TEST(ProbeE2E, UsageErrors) {
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, "no command given"},
      {{"flash"}, "unknown command"},
      {{"probe"}, "needs --port"},
      {{"probe", "--port", "COM1", "--protocol", "binary"}, "--protocol takes nmea or zorp"},
      {{"probe", "--port", "COM1", "--baud", "fast"},
       "--baud takes one of 4800, 9600, 19200, "
       "38400, 57600, 115200, 230400"},
      {{"versions", "--port", "COM1", "--baud", "12345"}, "--baud takes one of"},
      {{"program", "--port", "COM1", "--file", "x", "--baud", "1"}, "--baud takes one of"},
      {{"probe", "--port", "COM1", "--baud", "10000000"}, "--baud takes one of"},
      {{"probe", "--port", "COM1", "--baud", "09600"}, "--baud takes one of"},
      {{"probe", "--port", "COM1", "--file", "x.bin"}, "not known to 'probe'"},
      {{"probe", "--port", "LPT1"}, "COM name such as COM7"},
      {{"probe", "--port"}, "needs a value"},
      {{"probe", "--port", "COM1", "--scan", "--restart"}, "--restart or --scan"},
      {{"program", "--port", "COM1"}, "needs --file"},
  };
  for (auto& c : cases) {
    TRunResult r = RunCli(c.args);
    EXPECT_EQ(r.Exit, 64) << c.err;
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << r.Err;
  }
}

TEST(ProbeE2E, PortsListsTheSimulator) {
  TSimProcess sim(45, {});
  TRunResult r = RunCli({"ports"});
  EXPECT_EQ(r.Exit, 0);
  EXPECT_TRUE(Matches(r.Out, "COM45 +" + sim.DevicePath() + "\n")) << r.Out;
}

TEST(ProbeE2E, InterruptDuringTheVerdictExitsWith130) {
  TSimProcess sim(46, {"--fault", "silent"});
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::system("pkill -INT -f 'zv8810-fwu probe --port COM46'");
  });
  TRunResult r = RunCli({"probe", "--port", "COM46"});
  interrupter.join();
  EXPECT_EQ(r.Exit, 130);
  EXPECT_LT(r.Seconds, 2.5);
}
