#include "device/WorkingFirmware.h"

#include <cstdio>

namespace sim {

std::string NmeaWithChecksum(const std::string& body) {
  unsigned char sum = 0;
  for (std::size_t i = 1; i < body.size(); ++i) sum ^= static_cast<unsigned char>(body[i]);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return body + tail;
}

namespace {

// A complete sentence "$...*HH" whose checksum holds; the body is returned without "*HH".
bool CheckedSentence(const std::string& line, std::string& body) {
  std::size_t star = line.rfind('*');
  if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size())
    return false;
  body = line.substr(0, star);
  return NmeaWithChecksum(body) == line + "\r\n";
}

void PutText(Bytes& packet, std::size_t offset, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < text.size() && i < width; ++i)
    packet[offset + i] = static_cast<std::uint8_t>(text[i]);
}

}  // namespace

TWorkingFirmware::TWorkingFirmware(bool zorp, const TFaults& faults, THooks hooks)
    : zorp_(zorp),
      faults_(faults),
      hooks_(std::move(hooks)),
      collector_([this](const Bytes& packet) { ZorpPacket(packet); }) {}

void TWorkingFirmware::Reset() {
  line_.clear();
  collector_.Reset();
  restarting_ = false;
  tick_ = 0;
}

void TWorkingFirmware::Receive(const Bytes& bytes) {
  for (std::uint8_t b : bytes) {
    if (restarting_) return;
    if (zorp_)
      collector_.Push(b);
    else
      NmeaByte(b);
  }
}

void TWorkingFirmware::NmeaByte(std::uint8_t byte) {
  if (byte == '$') line_.clear();
  if (byte == '\r' || byte == '\n') {
    if (!line_.empty()) NmeaSentence(line_);
    line_.clear();
    return;
  }
  if (line_.size() < 120) line_.push_back(static_cast<char>(byte));
}

void TWorkingFirmware::NmeaSentence(const std::string& sentence) {
  std::string body;
  if (!CheckedSentence(sentence, body)) return;
  if (body == "$GPGPQ,PORZE") {
    if (!faults_.SilentFirmware && !faults_.NoAnswer)
      SendNmea("$PORZE," + identity_.DeviceId + "," + identity_.Version + "," +
               identity_.ModuleNumber);
  } else if (body == "$PORST,F" || body == "$PORST,W") {
    Restart();
  }
}

void TWorkingFirmware::SendNmea(const std::string& body) {
  std::string wire = NmeaWithChecksum(body);
  hooks_.Send(Bytes(wire.begin(), wire.end()));
}

void TWorkingFirmware::ZorpPacket(const Bytes& packet) {
  const std::uint8_t id = packet[0];
  if (id == 0x01 && packet.size() == 7 && packet[1] == 0x00 && packet[2] == 0x01 &&
      packet[3] == 0x21 && packet[4] == 0x01 && packet[5] == 0x00) {
    Restart();
    return;
  }
  if (faults_.SilentFirmware || faults_.NoAnswer) return;
  if (id == 0x26) {
    SendZorp({0x54, 0x01, 0x03, 0x07});  // status: firmware version 3.07
  } else if (id == 0x57) {
    Bytes identity(193, 0);
    identity[0] = 0x58;
    PutText(identity, 1, identity_.ModuleNumber, 32);
    PutText(identity, 33, identity_.ProductionDate, 32);
    PutText(identity, 65, identity_.ModuleId, 32);
    SendZorp(identity);
  } else if (id == 0x1B) {
    Bytes device(77, 0);
    device[0] = 0x70;
    device[1] = 0x11;  // device code
    PutText(device, 2, identity_.DeviceId, 21);
    SendZorp(device);
  }
  // 0x0E (stop), 0x22 and anything else: nothing to answer.
}

void TWorkingFirmware::SendZorp(const Bytes& packet) {
  hooks_.Send(FrameZorp(packet));
}

void TWorkingFirmware::Restart() {
  if (restarting_) return;
  restarting_ = true;
  if (!faults_.NoRestartAck) hooks_.Send(Bytes{'R', 'e', 's', 't', 'a', 'r', 't', '\r', '\n'});
  hooks_.Restart();
}

void TWorkingFirmware::StreamTick() {
  if (faults_.SilentFirmware || restarting_) return;
  ++tick_;
  if (!zorp_) {
    const TNmeaClock now = NmeaClockOf(hooks_.Utc ? hooks_.Utc() : TUtcClock().Now());
    SendNmea("$GPGGA," + now.Time + ",5545.1234,N,03737.5678,E,1,08,0.9,150.0,M,14.0,M,,");
    SendNmea("$GPRMC," + now.Time + ",A,5545.1234,N,03737.5678,E,0.0,0.0," + now.Date + ",,,A");
    return;
  }
  Bytes raw(481, 0);
  raw[0] = 0x87;
  for (std::size_t i = 1; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 7 + tick_);
  SendZorp(raw);
  Bytes status(70, 0);
  status[0] = 0x88;
  status[69] = tick_ > 2 ? 0x11 : 0x01;  // coordinates after a few seconds
  SendZorp(status);
}

}  // namespace sim
