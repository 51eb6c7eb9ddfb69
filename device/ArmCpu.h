// The receiver's ARM7 processor, emulated by Unicorn: RAM at 0x40000000, the flash readable at
// 0x01000000, the peripherals as memory-mapped registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Hardware.h"

struct uc_struct;

namespace sim {

class TArmCpu {
 public:
  enum class TStop { Stalled, Budget, Faulted, Reset };

  TArmCpu(TFlash& flash, THardware& hardware);
  ~TArmCpu();
  TArmCpu(const TArmCpu&) = delete;
  TArmCpu& operator=(const TArmCpu&) = delete;

  // Copies the image into RAM and points the processor at its first byte.
  void Start(const std::vector<std::uint8_t>& image);
  // Runs until the processor stalls on a peripheral, the budget runs out, or it faults.
  TStop Run(std::uint64_t maxInstructions);
  void RequestStop();  // from a peripheral hook (the reset)
  const std::string& FaultText() const { return fault_; }

  // One page of registers per peripheral; the emulator's callback gets the offset in the page.
  struct TPage {
    THardware* hardware;
    std::uint32_t base;
  };

 private:
  TPage pages_[4] = {};
  uc_struct* uc_ = nullptr;
  THardware& hardware_;
  std::vector<std::uint8_t> ram_;
  std::uint32_t pc_ = RamBase;
  bool resetRequested_ = false;
  std::string fault_;
};

}  // namespace sim
