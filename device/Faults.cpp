#include "device/Faults.h"

#include <cstdlib>

#include "device/Flash.h"

namespace sim {

namespace {

bool Number(const std::string& text, long& value, int base = 10) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, base);
  return *end == '\0' && value >= 0;
}

bool ByteValue(const std::string& text, int& value) {
  long parsed = 0;
  std::string digits = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
  if (!Number(digits, parsed, 16) || parsed > 0xFF) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

bool ApplyFault(const std::string& spec, TFaults& faults, std::string& error) {
  const std::size_t eq = spec.find('=');
  const std::string name = spec.substr(0, eq);
  const bool hasValue = eq != std::string::npos;
  const std::string value = hasValue ? spec.substr(eq + 1) : "";
  auto flag = [&](bool& field) {
    if (hasValue) error = "fault " + name + " takes no value";
    field = true;
    return !hasValue;
  };
  auto count = [&](long& field) {
    if (!Number(value, field)) error = "fault " + name + " takes a number (" + name + "=N)";
    return error.empty();
  };
  if (name == "silent") return flag(faults.SilentFirmware);
  if (name == "no-restart-ack") return flag(faults.NoRestartAck);
  if (name == "no-greeting") return flag(faults.NoGreeting);
  if (name == "resident-silent") return flag(faults.ResidentSilent);
  if (name == "erase-fail") {
    if (!hasValue) {
      faults.EraseFailFrom = 1;
      return true;
    }
    return count(faults.EraseFailFrom);
  }
  if (name == "erase-silent") return flag(faults.EraseSilent);
  if (name == "check-refuse") return flag(faults.CheckRefuse);
  if (name == "check-silent") return flag(faults.CheckSilent);
  if (name == "frame-silent") return count(faults.FrameSilent);
  if (name == "program-fail") return count(faults.ProgramFail);
  if (name == "program-fail-always") {
    faults.ProgramFailAlways = true;
    return count(faults.ProgramFail);
  }
  if (name == "flip") return count(faults.FlipOffset);
  if (name == "drop") return count(faults.DropFrame);
  if (name == "lose") return count(faults.LoseByte);
  if (name == "erase-refuse") {
    if (ByteValue(value, faults.EraseRefuse)) return true;
    error = "fault erase-refuse takes a byte in hex (erase-refuse=EE)";
    return false;
  }
  if (name == "frame-refuse") {
    const std::size_t colon = value.find(':');
    if (colon != std::string::npos && Number(value.substr(0, colon), faults.FrameRefuse) &&
        ByteValue(value.substr(colon + 1), faults.FrameRefuseByte))
      return true;
    error = "fault frame-refuse takes a frame and a byte in hex (frame-refuse=3:ED)";
    return false;
  }
  error = "unknown fault '" + name + "' (see --help)";
  return false;
}

const char* FaultHelp() {
  return "  silent              the working firmware answers no poll and streams nothing\n"
         "  no-restart-ack      restart commands restart without the text \"Restart\"\n"
         "  no-greeting         the bootloader never sends its greeting\n"
         "  resident-silent     the resident's transmitter is dead: it never announces\n"
         "  erase-fail[=N]      the flash controller fails to erase, from the N-th erase command\n"
         "                      on (default 1; the resident answers EE)\n"
         "  erase-refuse=XX     the reply to the erase command arrives as the byte XX (hex)\n"
         "  erase-silent        the reply to the erase command is lost\n"
         "  frame-silent=N      the reply to data frame N (0 is the first) is lost\n"
         "  frame-refuse=N:XX   the reply to data frame N arrives as the byte XX (hex)\n"
         "  program-fail=N      programming fails in data frame N, once (the resident answers E1)\n"
         "  program-fail-always=N  the same, every time\n"
         "  check-refuse        the check word arrives damaged (the resident answers FE)\n"
         "  check-silent        the reply to the check word is lost\n"
         "  flip=N              bit 0 flips in byte N that the resident receives (0 is the first\n"
         "                      byte after the upload)\n"
         "  drop=N              the line drops (the terminal closes) when data frame N starts\n"
         "  lose=N              byte N of the firmware area (0 is the header's first) changes\n"
         "                      after the check word was accepted (its bits invert)\n";
}

void TFaultInjector::ResidentStarted() {
  phase_ = TPhase::Commands;
  received_ = 0;
  inFrame_ = 0;
  frame_ = 0;
}

std::uint8_t TFaultInjector::ToResident(std::uint8_t byte) {
  if (faults_.FlipOffset >= 0 && received_ == static_cast<std::uint64_t>(faults_.FlipOffset))
    byte ^= 0x01;
  ++received_;
  // An erase command starts a new write, whatever came before.
  for (int i = 0; i < 8; ++i) window_[i] = window_[i + 1];
  window_[8] = byte;
  const std::uint8_t erase[5] = {0x00, 0xC2, 0x01, 0x00, 0x33};
  bool isErase = true;
  for (int i = 0; i < 5; ++i) isErase = isErase && window_[i] == erase[i];
  if (phase_ == TPhase::Frames) {
    if (inFrame_ == 0 && frame_ == faults_.DropFrame) dropped_ = true;
    if (++inFrame_ == 1028) phase_ = TPhase::FrameReply;
  } else if (phase_ == TPhase::CheckWord) {
    if (checkBytes_ == 0 && faults_.CheckRefuse) byte ^= 0x80;
    if (++checkBytes_ == 4) phase_ = TPhase::CheckReply;
  }
  if (isErase) {
    ++eraseCommands_;
    phase_ = TPhase::EraseReply;
    for (std::uint8_t& b : window_) b = 0;
  }
  return byte;
}

bool TFaultInjector::FromResident(std::uint8_t& byte) {
  if (faults_.ResidentSilent) return false;
  switch (phase_) {
    case TPhase::EraseReply: {
      const bool accepted = byte == 0xAA;
      phase_ = accepted ? TPhase::Frames : TPhase::Commands;
      frame_ = 0;
      inFrame_ = 0;
      if (faults_.EraseSilent) return false;
      if (faults_.EraseRefuse >= 0) byte = static_cast<std::uint8_t>(faults_.EraseRefuse);
      return true;
    }
    case TPhase::FrameReply: {
      const long frame = frame_;
      if (byte == 0xAA) {
        phase_ = TPhase::Frames;
        ++frame_;
        inFrame_ = 0;
      } else if (byte == 0xEF) {
        phase_ = TPhase::CheckWord;
        checkBytes_ = 0;
      } else {
        phase_ = TPhase::Commands;
      }
      if (frame == faults_.FrameSilent) return false;
      if (frame == faults_.FrameRefuse) byte = static_cast<std::uint8_t>(faults_.FrameRefuseByte);
      return true;
    }
    case TPhase::CheckReply:
      phase_ = TPhase::Commands;
      checkAccepted_ = byte == 0xBA;
      return !faults_.CheckSilent;
    default:
      return true;
  }
}

bool TFaultInjector::FlashFails(bool erase, std::uint32_t address) {
  if (erase) return faults_.EraseFailFrom > 0 && eraseCommands_ >= faults_.EraseFailFrom;
  if (faults_.ProgramFail < 0 || (programFailed_ && !faults_.ProgramFailAlways)) return false;
  const std::uint32_t from = FirmwareBase + static_cast<std::uint32_t>(faults_.ProgramFail) * 1024;
  if (address < from || address >= from + 1024) return false;
  programFailed_ = true;
  return true;
}

void TFaultInjector::AfterReply(std::uint8_t* flash) {
  if (!checkAccepted_) return;
  checkAccepted_ = false;
  if (faults_.LoseByte < 0 || faults_.LoseByte >= static_cast<long>(FirmwareSize)) return;
  flash[FirmwareBase - FlashBase + static_cast<std::uint32_t>(faults_.LoseByte)] ^= 0xFF;
}

}  // namespace sim
