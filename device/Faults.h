// Faults the simulator can be told to show, for tests. Faults in the resident's answers come
// from the device model (the flash controller failing, the UART dropping or changing bytes), not
// from a second resident.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct TFaults {
  bool SilentFirmware = false;  // the working firmware answers nothing and streams nothing
  bool NoAnswer = false;        // the working firmware streams but answers no poll
  bool NoRestartAck = false;    // restarts without sending "Restart"
  bool NoGreeting = false;      // the bootloader never greets
  bool ResidentSilent = false;  // the resident's transmitter is dead: it never announces
  long EraseFailFrom = -1;      // the flash controller fails erasing from this erase command on
                                // (1 is the first)
  int EraseRefuse = -1;         // the erase reply arrives as this byte
  bool EraseSilent = false;     // the erase reply is lost
  long FrameSilent = -1;        // the reply to this data frame is lost
  long FrameRefuse = -1;        // the reply to this data frame arrives as FrameRefuseByte
  int FrameRefuseByte = 0;
  long ProgramFail = -1;           // programming fails in this data frame ...
  bool ProgramFailAlways = false;  // ... every time (otherwise once)
  bool CheckRefuse = false;        // the check word arrives damaged: the resident refuses it
  bool CheckSilent = false;        // the reply to the check word is lost
  long FlipOffset = -1;            // bit 0 flips in this byte the resident receives
  long DropFrame = -1;             // the line drops when this data frame starts arriving
  bool DropAfterCheck = false;     // the line drops when a command follows an accepted check word
  long LoseByte = -1;  // this byte of the firmware area changes once the check word was accepted
};

// Where a fault acts.
enum class TFaultSite { WorkingFirmware, Bootloader, ResidentLine, FlashController };

// One --fault VALUE as given: Apply reads it into the faults through one of these, which say
// what is wrong with it in Error.
class TFaultValue {
 public:
  TFaultValue(const std::string& name, const char* form, const char* value)
      : name_(name), form_(form), value_(value) {}
  // A fault without a value.
  bool Flag(bool& field);
  // A decimal number from min to max.
  bool Number(long& field, long min, long max);
  // A data frame's number, 0 for the first (a system file fills at most 960 frames).
  bool Frame(long& field) { return Number(field, 0, MaxFrame); }
  // A frame number and a byte in hex, "N:XX".
  bool FrameAndByte(long& frame, int& byte);
  // A byte in hex, with or without 0x.
  bool Byte(int& field);
  bool HasValue() const { return value_ != nullptr; }
  const std::string& Error() const { return error_; }

  static constexpr long MaxFrame = 959;

 private:
  bool Refuse(const std::string& what);

  std::string name_;
  const char* form_;
  const char* value_;
  std::string error_;
};

// One fault the simulator knows: a new fault is one row of FaultTable().
struct TFaultRow {
  const char* Name;
  const char* Form;  // as written after --fault, e.g. "frame-refuse=N:XX"
  TFaultSite Site;
  const char* Help;
  bool (*Apply)(TFaultValue& value, TFaults& faults);
};

const std::vector<TFaultRow>& FaultTable();

// Applies one --fault NAME[=VALUE]; false with a message when it is not understood.
bool ApplyFault(const std::string& spec, TFaults& faults, std::string& error);
// The list for --help, generated from the table.
std::string FaultHelp();
// One entry of a help list: the head, then the text from the column on, wrapped.
std::string HelpLine(std::string head, const std::string& text, std::size_t column);

// Watches the bytes to and from the resident, tells which reply answers what, and applies the
// faults that live on the line and in the flash controller.
class TFaultInjector {
 public:
  explicit TFaultInjector(const TFaults& faults) : faults_(faults) {}

  void ResidentStarted();
  // A byte on its way to the resident: returned as it arrives (maybe damaged).
  std::uint8_t ToResident(std::uint8_t byte);
  // A byte the resident sends: false when the line loses it; it may be changed.
  bool FromResident(std::uint8_t& byte);
  // The flash controller's verdict: true when this operation is to fail.
  bool FlashFails(bool erase, std::uint32_t address);
  bool LineDropped() const { return dropped_; }
  // The flash loses its byte (lose=N) after the resident accepted the check word.
  void AfterReply(std::uint8_t* flash);

 private:
  enum class TPhase { Commands, EraseReply, Frames, FrameReply, CheckWord, CheckReply };

  const TFaults& faults_;
  TPhase phase_ = TPhase::Commands;
  std::uint8_t window_[9] = {};
  std::uint64_t received_ = 0;
  long frame_ = 0;
  std::uint32_t inFrame_ = 0;
  std::uint32_t checkBytes_ = 0;
  bool programFailed_ = false;
  long eraseCommands_ = 0;
  bool dropped_ = false;
  bool checkAccepted_ = false;
  bool writeAccepted_ = false;  // the last check word was accepted (until the next erase)
};

}  // namespace sim
