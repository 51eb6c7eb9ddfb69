// The receiver's working firmware: NMEA or ZORP at its own rate, answering polls, streaming
// periodic output, and restarting into the bootloader on the restart commands.
#pragma once

#include <functional>
#include <string>

#include "device/Faults.h"
#include "device/SimFraming.h"
#include "device/UtcClock.h"

namespace sim {

struct TFirmwareIdentity {
  std::string Version = "03.07";
  std::string ModuleNumber = "ZV8810-000417";
  std::string ProductionDate = "2009-11-26";
  std::string ModuleId = "ZV-8810 GNSS module";
  std::string DeviceId = "ZV-8810";
};

class TWorkingFirmware {
 public:
  struct THooks {
    std::function<void(const Bytes&)> Send;
    std::function<void()> Restart;
    // The receiver's UTC time for its NMEA output; the host's when empty.
    std::function<UtcTime()> Utc;
  };

  TWorkingFirmware(bool zorp, const TFaults& faults, THooks hooks);

  void Reset();  // the firmware starts (power-up or after the bootloader's window)
  void Receive(const Bytes& bytes);
  // One period of the firmware's own output.
  void StreamTick();
  bool Zorp() const { return zorp_; }

 private:
  void NmeaByte(std::uint8_t byte);
  void NmeaSentence(const std::string& sentence);
  void SendNmea(const std::string& body);
  void ZorpPacket(const Bytes& packet);
  void SendZorp(const Bytes& packet);
  void Restart();

  const bool zorp_;
  const TFaults& faults_;
  THooks hooks_;
  TFirmwareIdentity identity_;
  std::string line_;
  TZorpCollector collector_;
  bool restarting_ = false;
  unsigned tick_ = 0;
};

// The device's own NMEA checksum (xor of the characters between "$" and "*").
std::string NmeaWithChecksum(const std::string& body);

}  // namespace sim
