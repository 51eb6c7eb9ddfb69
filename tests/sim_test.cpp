// zv8810-sim's own behaviour, seen from the line: it answers only with the right settings, and
// restarts into its bootloader, which greets.
#include <gtest/gtest.h>
#include <signal.h>

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
