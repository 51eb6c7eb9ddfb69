// ZORP packets: what the session sends and how every received packet is handled.
#include <cstring>

#include "platform/TimeStamp.h"
#include "receiver/NavReceiverExU.h"

using plat::TimeStamp;

namespace {

// The characters of a fixed-width field before its first NUL.
std::string FieldText(const std::uint8_t* field, std::size_t width) {
  std::size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

void TNavReceiver::SendPacket(const std::uint8_t* packet, int length) {
  std::lock_guard<std::mutex> lock(sendLock_);
  std::memcpy(composition_, packet, static_cast<std::size_t>(length));
  port_.Write(composition_, length);
}

void TNavReceiver::SendPacketId(std::uint8_t id) {
  SendPacket(&id, 1);
}

void TNavReceiver::PortPacket(const std::uint8_t* bytes, int length) {
  if (length <= 0) return;
  // The transport reuses its buffer after the call.
  std::uint8_t packet[512];
  std::memcpy(packet, bytes, static_cast<std::size_t>(length));
  const int payloadLength = length - 1;
  const std::uint8_t* payload = packet + 1;
  switch (packet[0]) {
    case 0x43:
      if (payloadLength == 1 && payload[0] == 0x01) HandleSelfTestNotice();
      if (payloadLength == 6) HandleSelfTestResult(payload);
      break;
    case 0x4C:
      if (payloadLength == 1 && payload[0] == 0) {
        const std::uint8_t reply[2] = {0x22, 0x01};
        SendPacket(reply, sizeof reply);
      }
      break;
    case 0x54:
      PollAnswered();
      break;
    case 0x58:
      if (payloadLength == 192) {
        HandleModuleIdentity(payload);
        PollAnswered();
      }
      break;
    case 0x70:
      if (payloadLength == 76) {
        HandleDeviceIdentity(payload);
        PollAnswered();
      }
      break;
    case 0x87:
      if (payloadLength == 480) HandleRawBlock(payload);
      break;
    case 0x88:
      if (payloadLength == 69) HandleNavigationStatus(payload);
      break;
    case 0x9D:
      HandleReportedValue(payload, payloadLength);
      break;
    case 0x53:  // recognised (17 bytes); nothing of its content is used
    case 0xE3:  // recognised (16 bytes); nothing of its content is used
    default:
      break;
  }
}

void TNavReceiver::HandleSelfTestNotice() {
  // An empty log counts as a last line without "Starting test".
  if (LastLogLine().find("Starting test") == std::string::npos)
    AddLog("Starting test RPU: " + TimeStamp());
}

void TNavReceiver::HandleSelfTestResult(const std::uint8_t* payload) {
  {
    std::lock_guard<std::mutex> lock(testLock_);
    std::memcpy(testResult_, payload, sizeof testResult_);
    if (payload[0] == 2) {
      testFlags_ |= payload[1];
      testBits_ |= ReadU32(payload + 2);
      ++testCount_;
    }
  }
  OnTestResult(this);
}

void TNavReceiver::HandleModuleIdentity(const std::uint8_t* payload) {
  std::lock_guard<std::mutex> lock(propertiesLock_);
  properties_.ModuleNumber = FieldText(payload, 32);
  properties_.ProductionDate = FieldText(payload + 32, 32);
  properties_.ModuleId = FieldText(payload + 64, 32);
  AddLog("Module №: " + properties_.ModuleNumber);
  AddLog("Date produce: " + properties_.ProductionDate);
  AddLog("Module Id: " + properties_.ModuleId);
}

void TNavReceiver::HandleDeviceIdentity(const std::uint8_t* payload) {
  std::lock_guard<std::mutex> lock(propertiesLock_);
  properties_.DeviceCode = payload[0];
  properties_.DeviceId = FieldText(payload + 1, 21);
  AddLog("Device Id: " + properties_.DeviceId);
}

void TNavReceiver::HandleRawBlock(const std::uint8_t* payload) {
  // A raw block keeps a confirmed session's time-out running, but it answers no poll: while a
  // poll waits, only the answer stops its time-out, so a receiver that streams and never
  // answers still gets its verdict after two cycles.
  bool pollPending;
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    pollPending = pollPending_;
  }
  if (!pollPending) port_.DisarmTimeout();
  {
    std::lock_guard<std::mutex> lock(rawBlockLock_);
    std::memcpy(rawBlock_, payload, sizeof rawBlock_);
  }
  if (!restartSent_ && !pollPending) port_.ArmTimeout();
  OnRawBlock(this);
}

void TNavReceiver::HandleNavigationStatus(const std::uint8_t* payload) {
  const bool available = (payload[68] & 0x11) == 0x11;
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(dataLock_);
    std::memcpy(navigationStatus_, payload, sizeof navigationStatus_);
    changed = coordinatesAvailable_ != available;
    coordinatesAvailable_ = available;
  }
  // Reported outside the lock: a handler may ask CoordinatesAvailable() again.
  if (!changed) return;
  if (available) AddLog("coordinates are available: " + TimeStamp());
  OnCoordinates(this);
}

void TNavReceiver::HandleReportedValue(const std::uint8_t* payload, int payloadLength) {
  std::int32_t value = NoReportedValue;
  if (payloadLength == 3 && payload[0] == 0)
    value = static_cast<std::int16_t>(payload[1] | payload[2] << 8);
  std::lock_guard<std::mutex> lock(propertiesLock_);
  properties_.ReportedValue = value;
}
