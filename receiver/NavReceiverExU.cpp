#include "receiver/NavReceiverExU.h"

#include "platform/TimeStamp.h"

using plat::TimeStamp;

TNavReceiver::TNavReceiver() {
  port_.OnPacket.Bind<&TNavReceiver::PortPacket>(this);
  port_.OnTimeout.Bind<&TNavReceiver::PortTimeout>(this);
}

TNavReceiver::~TNavReceiver() {
  // The port's threads end before the session's members go away.
  port_.Close();
  port_.OnPacket.Clear();
  port_.OnTimeout.Clear();
  port_.OnAnswer.Clear();
}

void TNavReceiver::SetTimeout(std::int32_t milliseconds) {
  port_.TimeoutMs = milliseconds;
}

void TNavReceiver::Connect(std::int32_t port, std::int32_t rate, std::uint8_t protocol) {
  Connect(plat::TPortEntry{port, "COM" + std::to_string(port), ""}, rate, protocol);
}

void TNavReceiver::Connect(const plat::TPortEntry& port, std::int32_t rate, std::uint8_t protocol) {
  opened_ = false;
  {
    std::lock_guard<std::mutex> lock(propertiesLock_);
    properties_.ModuleNumber.clear();
    properties_.ProductionDate.clear();
    properties_.ModuleId.clear();
    properties_.Reserved4.clear();
    properties_.Reserved5.clear();
    properties_.Reserved6.clear();
    properties_.DeviceId.clear();
    properties_.DeviceCode = 0;
    properties_.ReportedValue = 0;
    properties_.ProtocolCode = protocol;
    properties_.Baud = rate;
  }
  port_.SetPort(port);
  port_.LineProps.BaudRate = rate;
  if (protocol == ProtocolNmea) {
    port_.LineProps.Parity = 0;
    port_.SetFramed(false);
    port_.ExpectAnswer("$PORZE,");
    port_.OnAnswer.Bind<&TNavReceiver::PortAnswer>(this);
  } else {
    port_.LineProps.Parity = 1;
    port_.SetFramed(true);
  }
  port_.Open();
  if (port_.IsOpen()) {
    opened_ = true;
    StartPolling();
  } else {
    AddLog("Could not open COM" + std::to_string(port.Number) + ": " + TimeStamp());
  }
}

void TNavReceiver::StartPolling() {
  if (GetProperties().ProtocolCode == ProtocolZorp) {
    port_.DisarmTimeout();
    SendPacketId(0x0E);
  }
  restartSent_ = false;
  pollCount_ = 0;
  PollCycle();
}

void TNavReceiver::PollCycle() {
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    pollPending_ = true;
  }
  // The time-out is armed before the polls go out: an answer that comes back at once is then
  // sure to find it armed and disarm it, where arming afterwards would restart the polling of a
  // receiver that has already been confirmed.
  ++pollCount_;
  port_.ArmTimeout();
  if (GetProperties().ProtocolCode == ProtocolZorp) {
    for (int round = 0; round < 2; ++round) {
      SendPacketId(0x26);
      SendPacketId(0x57);
      SendPacketId(0x1B);
    }
  } else {
    SendNmea("$GPGPQ,PORZE");
    SendNmea("$GPGPQ,PORZE");
  }
}

void TNavReceiver::PollAnswered() {
  bool pending;
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    pending = pollPending_;
  }
  if (pending) ConfirmConnection();
}

void TNavReceiver::ConfirmConnection() {
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    pollPending_ = false;
  }
  port_.DisarmTimeout();
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    connected_ = true;
  }
  pollCount_ = 0;
  AddLog("*COM" + std::to_string(port_.PortNumber) + " connection OK: " + TimeStamp());
  OnConnected(this);
}

void TNavReceiver::PortAnswer(const std::uint8_t*, int, const std::string&) {
  PollAnswered();
}

void TNavReceiver::PortTimeout(TPortIO*) {
  if (restartSent_) return;
  if (pollCount_ < 2) {
    port_.Purge();
    PollCycle();
    return;
  }
  AddLog("*Device not answer on COM" + std::to_string(port_.PortNumber) + ": " + TimeStamp());
  Disconnect();
  OnNoAnswer(this);
}

void TNavReceiver::Disconnect() {
  if (Connected() && GetProperties().ProtocolCode == ProtocolZorp) {
    port_.DisarmTimeout();
    SendPacketId(0x0E);
  }
  if (port_.IsOpen())
    AddLog("*COM" + std::to_string(port_.PortNumber) + " disconnected: " + TimeStamp());
  port_.Close();
  std::lock_guard<std::mutex> lock(stateLock_);
  connected_ = false;
}

void TNavReceiver::Restart(bool mode) {
  if (GetProperties().ProtocolCode == ProtocolZorp) {
    port_.DisarmTimeout();
    SendPacketId(0x0E);
    restartSent_ = true;
    port_.DisarmTimeout();
    const std::uint8_t restart[7] = {
        0x01, 0x00, 0x01, 0x21, 0x01, 0x00, static_cast<std::uint8_t>(mode ? 0x00 : 0x01)};
    SendPacket(restart, sizeof restart);
    {
      std::lock_guard<std::mutex> lock(dataLock_);
      coordinatesAvailable_ = false;
    }
    AddLog("restart: " + TimeStamp());
  } else {
    restartSent_ = true;
    port_.DisarmTimeout();
    SendNmea(mode ? "$PORST,F" : "$PORST,W");
  }
}

plat::TEvent& TNavReceiver::RestartAwaiting(const std::string& acknowledgement) {
  port_.OnAnswer.Clear();  // the session's own awaited text is over
  port_.ExpectAnswer(acknowledgement);
  Restart(true);
  return port_.AnswerEvent;
}

bool TNavReceiver::OpenRaw(const plat::TPortEntry& port, std::int32_t rate) {
  opened_ = false;
  port_.SetPort(port);
  port_.LineProps.BaudRate = rate;
  port_.LineProps.Parity = 0;
  port_.SetFramed(false);
  port_.Open();
  opened_ = port_.IsOpen();
  if (!opened_) AddLog("Could not open COM" + std::to_string(port.Number) + ": " + TimeStamp());
  return opened_;
}

TPortIO& TNavReceiver::HandOver(std::int32_t rate) {
  port_.DisarmTimeout();
  port_.OnAnswer.Clear();
  const bool keep =
      port_.IsOpen() && port_.LineProps.BaudRate == rate && port_.LineProps.Parity == 0;
  if (!keep) {
    port_.Close();
    port_.LineProps.BaudRate = rate;
    port_.LineProps.Parity = 0;
  }
  port_.SetFramed(false);
  if (!keep) port_.Open();
  return port_;
}

TReceiverProperties TNavReceiver::GetProperties() const {
  std::lock_guard<std::mutex> lock(propertiesLock_);
  return properties_;
}

bool TNavReceiver::Connected() const {
  std::lock_guard<std::mutex> lock(stateLock_);
  return connected_;
}

void TNavReceiver::AddLog(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(logLock_);
    log_.push_back(line);
  }
  OnLog(this);
}

std::vector<std::string> TNavReceiver::Log() const {
  std::lock_guard<std::mutex> lock(logLock_);
  return log_;
}

std::string TNavReceiver::LastLogLine() const {
  std::lock_guard<std::mutex> lock(logLock_);
  return log_.empty() ? std::string() : log_.back();
}

std::uint32_t TNavReceiver::TestFlags() const {
  std::lock_guard<std::mutex> lock(testLock_);
  return testFlags_;
}

std::uint32_t TNavReceiver::TestBits() const {
  std::lock_guard<std::mutex> lock(testLock_);
  return testBits_;
}

std::int32_t TNavReceiver::TestCount() const {
  std::lock_guard<std::mutex> lock(testLock_);
  return testCount_;
}

bool TNavReceiver::CoordinatesAvailable() const {
  std::lock_guard<std::mutex> lock(dataLock_);
  return coordinatesAvailable_;
}
