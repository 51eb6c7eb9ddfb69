// Ctrl+C at every stage of a job against zv8810-sim: the job ends promptly with exit 130 and
// says so, never claims success, sends nothing more before the restart command went out, sends
// the resident its restart command exactly when it may be running, and leaves a receiver that
// the next job reaches without a power cycle.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "device/FlashContents.h"
#include "tests/TestSupport.h"

namespace {

struct TStopRow {
  const char* name;
  int com;  // the simulator's COM number
  std::vector<std::string> sim;
  std::vector<std::string> cli;  // the command and its options, without --port
  std::uint32_t fileSize;        // a system file of this size is given when not 0
  int stopAfterMs;
  std::vector<std::string> next = {};  // options of the versions job that follows
};

void PrintTo(const TStopRow& row, std::ostream* out) {
  *out << row.name;
}

std::string LastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  std::size_t begin = text.rfind('\n', end);
  return text.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin + 1));
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The command line of a job on the port: the command, --port, its options and, when size is not
// 0, --file with a sample system file of that size.
std::vector<std::string> JobArgs(std::vector<std::string> cli, const std::string& com,
                                 std::uint32_t size) {
  cli.insert(cli.begin() + 1, {"--port", com});
  if (size == 0) return cli;
  sim::TFirmwareSpec spec;
  spec.Size = size;
  spec.Seed = size;
  const std::string file = TempDir() + "/sample-" + com + ".bin";
  Bytes bytes = sim::MakeSystemFile(spec);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  cli.insert(cli.end(), {"--file", file});
  return cli;
}

class StopRows : public ::testing::TestWithParam<TStopRow> {};

TEST_P(StopRows, EndPromptlyAndLeaveTheReceiverUsable) {
  const TStopRow& c = GetParam();
  const std::string com = "COM" + std::to_string(c.com);
  TSimProcess sim(c.com, c.sim);
  const std::vector<std::string> args = JobArgs(c.cli, com, c.fileSize);

  TRunResult r = RunCliInterrupted(args, c.stopAfterMs);
  const std::string seen = sim.Errors();
  EXPECT_EQ(r.Exit, 130) << r.Out << r.Err;
  EXPECT_GE(r.SecondsAfterInterrupt, 0) << "ended before the stop:\n" << r.Out << r.Err;
  EXPECT_LT(r.SecondsAfterInterrupt, 3.0) << r.Out;
  EXPECT_FALSE(Has(r.Out, "successfully") || Has(r.Out, "Execution is finished")) << r.Out;
  EXPECT_TRUE(std::regex_match(LastLine(r.Out), std::regex("Execution is stopped - .*"))) << r.Out;

  // The restart command took the receiver into its bootloader; the resident ran once its image
  // went out; it is sent Z (and resets the receiver) exactly then.
  const bool restartSent = Has(seen, "zv8810-sim: bootloader");
  const bool uploadBegan = Has(r.Out, "  Initialization");
  const bool residentRestarted = Has(seen, "reset by the resident");
  EXPECT_EQ(residentRestarted, uploadBegan) << r.Out << seen;
  if (!uploadBegan) {
    EXPECT_FALSE(Has(seen, "resident of")) << "the greeting was answered: " << seen;
  }

  // The next job reaches the receiver without a power cycle: from its working firmware, or from
  // the bootloader that still greets when the restart went out and nothing followed.
  const bool inBootloader = restartSent && !uploadBegan;
  if (uploadBegan)
    for (int i = 0; i < 100 && !Has(sim.Errors().substr(seen.size()), "working firmware"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::string> next = {"versions", "--port", com};
  if (inBootloader) next.insert(next.end(), {"--reset", "manual"});
  next.insert(next.end(), c.next.begin(), c.next.end());
  TRunResult after = RunCli(next);
  EXPECT_EQ(after.Exit, 0) << "the receiver is not usable after the stop\n"
                           << r.Out << "----\n"
                           << after.Out << after.Err << sim.Errors();
}

INSTANTIATE_TEST_SUITE_P(
    StopE2E, StopRows,
    ::testing::Values(
        TStopRow{"Polling", 130, {"--baud", "9600"}, {"versions"}, 0, 1000, {"--baud", "9600"}},
        TStopRow{"RestartAcknowledgementWait",
                 131,
                 {"--fault", "no-restart-ack"},
                 {"versions"},
                 0,
                 1000},
        TStopRow{"GreetingCountdownManual", 132, {}, {"versions", "--reset", "manual"}, 0, 1500},
        TStopRow{"ResidentUpload",
                 133,
                 {"--state", "bootloader", "--timing"},
                 {"versions", "--reset", "manual"},
                 0,
                 2000},
        TStopRow{"EraseNeverAnswered", 134, {"--fault", "erase-silent"}, {"program"}, 20000, 3500},
        TStopRow{"WritingFrames", 135, {"--timing"}, {"program"}, 204800, 6500},
        TStopRow{"FrameReplyWait", 136, {"--fault", "frame-silent=2"}, {"program"}, 20000, 3200},
        TStopRow{"VersionInquiry", 137, {"--timing"}, {"versions"}, 0, 2800}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The cable pulled at a stage: the simulator is killed, so its terminal closes under the open
// port as an unplugged adapter's does.
struct TPullRow {
  const char* name;
  int com;
  std::vector<std::string> sim;
  std::vector<std::string> cli;
  int pullAfterMs;
  std::string status;  // the stage line that says the port was lost
};

void PrintTo(const TPullRow& row, std::ostream* out) {
  *out << row.name;
}

class PullRows : public ::testing::TestWithParam<TPullRow> {};

TEST_P(PullRows, EndTheJobWithinTwoSecondsAndSaySo) {
  const TPullRow& c = GetParam();
  const std::string com = "COM" + std::to_string(c.com);
  TSimProcess sim(c.com, c.sim);
  const std::vector<std::string> args = JobArgs(c.cli, com, c.cli[0] == "program" ? 20000 : 0);
  std::thread puller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(c.pullAfterMs));
    sim.Signal(SIGKILL);
  });
  TRunResult r = RunCli(args);
  puller.join();
  EXPECT_EQ(r.Exit, 8) << r.Out << r.Err;
  EXPECT_LT(r.Seconds * 1000, c.pullAfterMs + 2000 + 1000) << "the loss was not noticed\n" << r.Out;
  EXPECT_TRUE(Has(r.Out, c.status + " - Error: the port was lost\n")) << r.Out;
  EXPECT_FALSE(Has(r.Out, "System restarting")) << "no restart could be written";
  EXPECT_FALSE(Has(r.Out, "successfully"));
  EXPECT_TRUE(Has(r.Err, "was lost: check the cable and the adapter.")) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    PulledCable, PullRows,
    ::testing::Values(
        TPullRow{"Polling", 150, {"--baud", "9600"}, {"versions"}, 800, "  NMEA connecting"},
        TPullRow{
            "GreetingCountdown", 151, {}, {"versions", "--reset", "manual"}, 1500, "  Connecting"},
        TPullRow{
            "EraseWait", 152, {"--fault", "erase-silent"}, {"program"}, 3500, "  Erasing flash"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
