#include <cstdio>
#include <cstring>

#include "receiver/NavReceiverExU.h"

std::uint8_t NmeaChecksum(const std::string& sentence) {
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < sentence.size(); ++i) sum ^= static_cast<std::uint8_t>(sentence[i]);
  return sum;
}

std::string NmeaWireForm(const std::string& sentence) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "*%02X\r\n", NmeaChecksum(sentence));
  return sentence + suffix;
}

void TNavReceiver::SendNmea(const std::string& sentence) {
  std::string wire = NmeaWireForm(sentence);
  if (wire.size() > sizeof composition_) return;  // does not fit the composition buffer
  std::lock_guard<std::mutex> lock(sendLock_);
  std::memcpy(composition_, wire.data(), wire.size());
  port_.Write(composition_, static_cast<int>(wire.size()));
}
