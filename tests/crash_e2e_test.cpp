// A crash of zv8810-fwu, made on purpose through the test switch (ZV8810_TEST_CRASH) in the
// main thread and in the programming thread, by a fatal signal and by an exception nobody
// catches: the program ends with 70, names the report on standard error, and the report in the
// user's data folder says what happened and where the job was. A receiver left in its resident
// is sent the restart command, so the next job reaches it without a power cycle.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(CrashReport, CommandLineCrashesLeaveAReportAndAUsableReceiver) {
  struct {
    const char* crash;  // ZV8810_TEST_CRASH
    const char* thread;
    const char* cause;
    const char* stack;  // a frame the trace must name
  } cases[] = {
      // The ninth report of the main thread and the seventh call of the programming thread: the
      // resident runs (the bootloader's version is being read).
      {"main@9", "(the main thread)", "signal 11 SIGSEGV", "cli/PortJob.cpp:"},
      {"thread:exception@7", "(not the main thread)",
       "unhandled C++ exception std::runtime_error: a crash asked for in the thread thread",
       "cli/PortJob.cpp:"},
      {"thread@7", "(not the main thread)", "signal 11 SIGSEGV", "TSystemWriteThr"},
      {"main:exception@9", "(the main thread)", "unhandled C++ exception std::runtime_error",
       "cli/PortJob.cpp:"},
  };
  TSimProcess sim(61, {"--stream", "0"});
  // By its device: the data folder changes below, and the COM names live in it.
  const std::string device = std::filesystem::canonical(sim.DevicePath()).string();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.crash);
    const std::string data = TempDir() + "/crash-data-" + std::to_string(++n);
    const std::string folder = data + "/zv8810-fwu/crash/";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("ZV8810_TEST_CRASH", c.crash, 1);
    const TRunResult crashed = RunCli({"versions", "--port", device, "--reset", "auto"});
    unsetenv("ZV8810_TEST_CRASH");
    EXPECT_EQ(crashed.Exit, 70) << crashed.Out << crashed.Err;

    std::vector<std::string> reports;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      reports.push_back(entry.path().string());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Has(crashed.Err, "a crash report was written to " + reports[0])) << crashed.Err;
    const std::string report = ReadWhole(reports[0]);
    for (const std::string& part :
         {std::string("Program: zv8810-fwu 2.3.0.1"), std::string("\nSystem: Linux "),
          std::string("\nTime: 20"), std::string(c.thread), std::string("Cause: ") + c.cause,
          std::string("CrashIfAsked"), std::string(c.stack),
          "(" + device + "), stage:", std::string("stage:   Inquiry of the bootloader version"),
          std::string("Last log lines:\n  Execution is started - "),
          std::string("  NMEA connecting - done\n"), std::string(": the restart command was sent")})
      EXPECT_TRUE(Has(report, part)) << part << "\n" << report;

    // The resident was sent its restart: the receiver answers the next job at once.
    const TRunResult next = RunCli({"versions", "--port", device, "--reset", "auto"});
    EXPECT_EQ(next.Exit, 0) << next.Out << next.Err;
  }
  unsetenv("XDG_DATA_HOME");
}
