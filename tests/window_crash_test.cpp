// The Qt window crashed on purpose through the test switch (ZV8810_TEST_CRASH), in the UI thread
// by a fatal signal and in the programming thread by an exception nobody catches, while the
// resident runs: the program ends with 70, the report in the user's data folder says what
// happened and where the job was, the receiver was sent its restart; the next start tells where
// the report is, once.
//
// The window program runs in a process of its own: this program started again with "--window
// ACTION", which runs the program's own start (RunWindowProgram) and, once the window shows,
// prints the lines of a message box that is up ("NOTICE ...") and answers it, then presses a
// button ("program", "versions") or closes the window ("close").
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestSupport.h"
#include "ui/qt/MainFU.h"
#include "ui/qt/WindowProgram.h"

namespace {

// Prints the lines of the message box that is up, if one is, under the tag, and closes it.
bool AnswerBox(const char* tag) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) return false;
  std::istringstream lines(box->text().toStdString());
  for (std::string line; std::getline(lines, line);) std::printf("%s %s\n", tag, line.c_str());
  std::fflush(stdout);
  box->reject();
  return true;
}

int RunWindow(const std::string& action, char* program) {
  char* argv[] = {program, nullptr};
  return RunWindowProgram(1, argv, [action](TMainF& window) {
    QTimer::singleShot(0, &window, [&window, action] {
      AnswerBox("NOTICE");  // the notice's box, shown once the window is up, is open by now
      QTimer::singleShot(0, &window, [&window, action] {
        if (action == "program") window.ProgBut->click();
        if (action == "versions") window.VerCheckBut->click();
        if (action == "close") window.close();
      });
      // A box the job shows means it ended without the crash asked for: said, and the end.
      auto* boxes = new QTimer(&window);
      QObject::connect(boxes, &QTimer::timeout, &window, [&window] {
        if (AnswerBox("MESSAGE")) QTimer::singleShot(0, &window, [&window] { window.close(); });
      });
      boxes->start(100);
    });
  });
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Self() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

// The window keeps its settings beside its program: here, this test program.
void WriteSettings(int port, int lang, const std::string& file) {
  std::ofstream(std::filesystem::path(Self()).replace_extension(".ini"), std::ios::binary)
      << "ComPort=COM" << port
      << "\r\nComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=" << lang
      << "\r\nSystemFile=" << file << "\r\n";
}

}  // namespace

TEST(WindowCrash, CrashesLeaveAReportAndTheNextStartTellsOfIt) {
  struct {
    const char* crash;  // ZV8810_TEST_CRASH
    const char* thread;
    const char* cause;
  } cases[] = {
      // The resident runs: the bootloader's version is being read.
      {"main@9", "(the main thread)", "signal 11 SIGSEGV"},
      {"thread:exception@7", "(not the main thread)",
       "unhandled C++ exception std::runtime_error: a crash asked for in the thread thread"},
  };
  const std::string file = TempDir() + "/firmware.bin";
  ASSERT_EQ(RunProgram(ZV_MKFW_PATH, {file, "--size", "20000"}).Exit, 0);
  TSimProcess sim(62, {"--stream", "0"});
  const std::string device = std::filesystem::canonical(sim.DevicePath()).string();
  std::string previous;  // the report of the crash before
  for (const auto& c : cases) {
    SCOPED_TRACE(c.crash);
    WriteSettings(62, 0, file);
    setenv("ZV8810_TEST_CRASH", c.crash, 1);
    const TRunResult crashed = RunProgram(Self(), {"--window", "versions"}, 120000);
    unsetenv("ZV8810_TEST_CRASH");
    EXPECT_EQ(crashed.Exit, 70) << crashed.Out << crashed.Err;
    // The crash before was told of at this start.
    if (!previous.empty()) {
      EXPECT_TRUE(Has(crashed.Out, "NOTICE " + previous)) << crashed.Out;
    }

    const std::string marker = "a crash report was written to ";
    const std::size_t at = crashed.Err.find(marker);
    ASSERT_NE(at, std::string::npos) << crashed.Err;
    const std::string path =
        crashed.Err.substr(at + marker.size(), crashed.Err.find('\n', at) - at - marker.size());
    const std::string report = ReadWhole(path);
    for (const std::string& part :
         {std::string("Program: ZV8810_FWU 2.3.0.1"), std::string("\nSystem: Linux "),
          std::string("\nTime: 20"), std::string(c.thread), std::string("Cause: ") + c.cause,
          std::string("CrashIfAsked"), std::string("ui/model/MainModel.cpp:"),
          "port COM62 (" + device + "), stage:",
          std::string("stage:   Inquiry of the bootloader version"),
          std::string("Last log lines:\n  Execution is started - "),
          std::string("  NMEA connecting - done\n"), std::string(": the restart command was sent")})
      EXPECT_TRUE(Has(report, part)) << part << "\n" << report;
    previous = path;

    // The resident was sent its restart: the receiver answers the next job at once.
    const TRunResult next = RunCli({"versions", "--port", device, "--reset", "auto"});
    EXPECT_EQ(next.Exit, 0) << next.Out << next.Err;
  }

  // The next start tells of the last report, in the language of the settings; then no more.
  WriteSettings(62, 1, file);
  const TRunResult told = RunProgram(Self(), {"--window", "close"}, 60000);
  EXPECT_EQ(told.Exit, 0) << told.Out << told.Err;
  EXPECT_TRUE(
      Has(told.Out, "NOTICE Программа обновления завершилась аварийно и записала отчёт о сбое:\n"))
      << told.Out;
  EXPECT_TRUE(Has(told.Out, "NOTICE " + previous + "\n")) << told.Out;
  const TRunResult again = RunProgram(Self(), {"--window", "close"}, 60000);
  EXPECT_EQ(again.Exit, 0) << again.Out << again.Err;
  EXPECT_FALSE(Has(again.Out, "NOTICE")) << again.Out;
  std::filesystem::remove(std::filesystem::path(Self()).replace_extension(".ini"));
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--window") return RunWindow(argv[2], argv[0]);
  setenv("XDG_DATA_HOME", TempDir().c_str(), 1);  // the COM aliases and the reports
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(TempDir(), ec);
  return result;
}
