#include "device/Faults.h"

#include <string>

#include "device/Flash.h"

namespace sim {

namespace {

// Digits only (no sign, no blanks), base 10 or 16, within max; false on anything else.
bool Digits(const std::string& text, int base, long max, long& value) {
  if (text.empty() || text.size() > 18) return false;
  long parsed = 0;
  for (char ch : text) {
    int digit = -1;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    if (base == 16 && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
    if (base == 16 && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
    if (digit < 0) return false;
    parsed = parsed * base + digit;
    if (parsed > max) return false;
  }
  value = parsed;
  return true;
}

bool HexByte(const std::string& text, int& value) {
  const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  long parsed = 0;
  if (!Digits(prefixed ? text.substr(2) : text, 16, 0xFF, parsed)) return false;
  value = static_cast<int>(parsed);
  return true;
}

// Bytes the resident receives in a whole run are well under this.
constexpr long MaxByteOffset = 16L * 1024 * 1024;
constexpr long MaxEraseCommand = 1000000;

}  // namespace

bool TFaultValue::Refuse(const std::string& what) {
  error_ = "fault " + name_ + " " + what + " (" + form_ + ")";
  return false;
}

bool TFaultValue::Flag(bool& field) {
  if (value_) return Refuse("takes no value");
  field = true;
  return true;
}

bool TFaultValue::Number(long& field, long min, long max) {
  long parsed = 0;
  if (!value_ || !Digits(value_, 10, max, parsed) || parsed < min)
    return Refuse("takes a number from " + std::to_string(min) + " to " + std::to_string(max));
  field = parsed;
  return true;
}

bool TFaultValue::Byte(int& field) {
  if (!value_ || !HexByte(value_, field)) return Refuse("takes a byte in hex, 00 to FF");
  return true;
}

bool TFaultValue::FrameAndByte(long& frame, int& byte) {
  const std::string text = value_ ? value_ : "";
  const std::size_t colon = text.find(':');
  long parsed = 0;
  if (colon == std::string::npos || !Digits(text.substr(0, colon), 10, MaxFrame, parsed) ||
      !HexByte(text.substr(colon + 1), byte))
    return Refuse("takes a frame from 0 to " + std::to_string(MaxFrame) +
                  " and a byte in hex, 00 to FF");
  frame = parsed;
  return true;
}

const std::vector<TFaultRow>& FaultTable() {
  using S = TFaultSite;
  using V = TFaultValue;
  static const std::vector<TFaultRow> table = {
      {"silent", "silent", S::WorkingFirmware,
       "the working firmware answers no poll and streams nothing",
       [](V& v, TFaults& f) { return v.Flag(f.SilentFirmware); }},
      {"no-answer", "no-answer", S::WorkingFirmware,
       "the working firmware streams its output but answers no poll",
       [](V& v, TFaults& f) { return v.Flag(f.NoAnswer); }},
      {"no-restart-ack", "no-restart-ack", S::WorkingFirmware,
       "restart commands restart without the text \"Restart\"",
       [](V& v, TFaults& f) { return v.Flag(f.NoRestartAck); }},
      {"no-greeting", "no-greeting", S::Bootloader, "the bootloader never sends its greeting",
       [](V& v, TFaults& f) { return v.Flag(f.NoGreeting); }},
      {"resident-silent", "resident-silent", S::ResidentLine,
       "the resident's transmitter is dead: it never announces",
       [](V& v, TFaults& f) { return v.Flag(f.ResidentSilent); }},
      {"erase-refuse", "erase-refuse=XX", S::ResidentLine,
       "the reply to the erase command arrives as the byte XX (hex)",
       [](V& v, TFaults& f) { return v.Byte(f.EraseRefuse); }},
      {"erase-silent", "erase-silent", S::ResidentLine, "the reply to the erase command is lost",
       [](V& v, TFaults& f) { return v.Flag(f.EraseSilent); }},
      {"frame-silent", "frame-silent=N", S::ResidentLine,
       "the reply to data frame N (0 is the first) is lost",
       [](V& v, TFaults& f) { return v.Frame(f.FrameSilent); }},
      {"frame-refuse", "frame-refuse=N:XX", S::ResidentLine,
       "the reply to data frame N arrives as the byte XX (hex)",
       [](V& v, TFaults& f) { return v.FrameAndByte(f.FrameRefuse, f.FrameRefuseByte); }},
      {"check-refuse", "check-refuse", S::ResidentLine,
       "the check word arrives damaged (the resident answers FE)",
       [](V& v, TFaults& f) { return v.Flag(f.CheckRefuse); }},
      {"check-silent", "check-silent", S::ResidentLine, "the reply to the check word is lost",
       [](V& v, TFaults& f) { return v.Flag(f.CheckSilent); }},
      {"flip", "flip=N", S::ResidentLine,
       "bit 0 flips in byte N that the resident receives (0 is the first byte after the upload)",
       [](V& v, TFaults& f) { return v.Number(f.FlipOffset, 0, MaxByteOffset); }},
      {"drop", "drop=N", S::ResidentLine,
       "the line drops (the terminal closes and the simulator ends) when data frame N starts",
       [](V& v, TFaults& f) { return v.Frame(f.DropFrame); }},
      {"drop-after-check", "drop-after-check", S::ResidentLine,
       "the line drops when the first command after an accepted check word arrives (the version "
       "inquiry of a written receiver)",
       [](V& v, TFaults& f) { return v.Flag(f.DropAfterCheck); }},
      {"lose", "lose=N", S::FlashController,
       "byte N of the firmware area (0 is the header's first) changes after the check word was "
       "accepted (its bits invert)",
       [](V& v, TFaults& f) { return v.Number(f.LoseByte, 0, MaxByteOffset); }},
      {"erase-fail", "erase-fail[=N]", S::FlashController,
       "the flash controller fails to erase, from the N-th erase command on (default 1; the "
       "resident answers EE)",
       [](V& v, TFaults& f) {
         if (!v.HasValue()) return (f.EraseFailFrom = 1), true;
         return v.Number(f.EraseFailFrom, 1, MaxEraseCommand);
       }},
      {"program-fail", "program-fail=N", S::FlashController,
       "programming fails in data frame N, once (the resident answers E1)",
       [](V& v, TFaults& f) { return v.Frame(f.ProgramFail); }},
      {"program-fail-always", "program-fail-always=N", S::FlashController,
       "programming fails in data frame N, every time",
       [](V& v, TFaults& f) { return (f.ProgramFailAlways = true), v.Frame(f.ProgramFail); }},
  };
  return table;
}

bool ApplyFault(const std::string& spec, TFaults& faults, std::string& error) {
  const std::size_t eq = spec.find('=');
  const std::string name = spec.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : spec.substr(eq + 1);
  for (const TFaultRow& row : FaultTable()) {
    if (name != row.Name) continue;
    TFaults changed = faults;
    TFaultValue parsed(name, row.Form, eq == std::string::npos ? nullptr : value.c_str());
    if (!row.Apply(parsed, changed)) {
      error = parsed.Error();
      return false;
    }
    faults = changed;
    return true;
  }
  error = "unknown fault '" + name + "' (see --help)";
  return false;
}

std::string HelpLine(std::string head, const std::string& text, std::size_t column) {
  constexpr std::size_t Width = 96;
  std::string line;
  // A long head gets a line of its own; the text is wrapped at word boundaries.
  if (head.size() + 1 > column) {
    line = head + "\n";
    head.clear();
  }
  head.resize(column, ' ');
  line += head;
  std::size_t used = column;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(pos, end - pos);
    if (used > column && used + 1 + word.size() > Width) {
      line += "\n" + std::string(column, ' ');
      used = column;
    } else if (used > column) {
      line += ' ';
      ++used;
    }
    line += word;
    used += word.size();
    pos = end + 1;
  }
  return line + "\n";
}

std::string FaultHelp() {
  struct {
    TFaultSite Site;
    const char* Title;
  } const sites[] = {{TFaultSite::WorkingFirmware, "in the working firmware"},
                     {TFaultSite::Bootloader, "in the bootloader"},
                     {TFaultSite::ResidentLine, "on the resident's line"},
                     {TFaultSite::FlashController, "in the flash controller"}};
  std::string help;
  for (const auto& site : sites) {
    help += "    " + std::string(site.Title) + ":\n";
    for (const TFaultRow& row : FaultTable()) {
      if (row.Site != site.Site) continue;
      help += HelpLine("      " + std::string(row.Form), row.Help, 28);
    }
  }
  return help;
}

void TFaultInjector::ResidentStarted() {
  phase_ = TPhase::Commands;
  received_ = 0;
  inFrame_ = 0;
  frame_ = 0;
  writeAccepted_ = false;
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
  if (phase_ == TPhase::Commands && writeAccepted_ && faults_.DropAfterCheck) dropped_ = true;
  if (phase_ == TPhase::Frames) {
    if (inFrame_ == 0 && frame_ == faults_.DropFrame) dropped_ = true;
    if (++inFrame_ == 1028) phase_ = TPhase::FrameReply;
  } else if (phase_ == TPhase::CheckWord) {
    if (checkBytes_ == 0 && faults_.CheckRefuse) byte ^= 0x80;
    if (++checkBytes_ == 4) phase_ = TPhase::CheckReply;
  }
  if (isErase) {
    writeAccepted_ = false;
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
      writeAccepted_ = checkAccepted_;
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
