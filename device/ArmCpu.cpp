#include "device/ArmCpu.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <stdexcept>

namespace sim {

namespace {

using TPage = TArmCpu::TPage;

std::uint64_t PageRead(uc_engine* uc, std::uint64_t offset, unsigned, void* user) {
  auto* page = static_cast<TPage*>(user);
  std::uint32_t value = page->hardware->Read(page->base + static_cast<std::uint32_t>(offset));
  if (page->hardware->Stalled()) uc_emu_stop(uc);
  return value;
}

void PageWrite(uc_engine* uc, std::uint64_t offset, unsigned, std::uint64_t value, void* user) {
  auto* page = static_cast<TPage*>(user);
  page->hardware->Write(page->base + static_cast<std::uint32_t>(offset),
                        static_cast<std::uint32_t>(value));
  if (page->base == ResetBase) uc_emu_stop(uc);
}

}  // namespace

TArmCpu::TArmCpu(TFlash& flash, THardware& hardware) : hardware_(hardware), ram_(RamSize, 0) {
  if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK)
    throw std::runtime_error("cannot start the ARM emulator");
  uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_926);
  uc_mem_map_ptr(uc_, FlashBase, FlashSize, UC_PROT_READ | UC_PROT_EXEC, flash.Data());
  uc_mem_map_ptr(uc_, RamBase, RamSize, UC_PROT_ALL, ram_.data());
  const std::uint32_t bases[4] = {UartBase, FlashCtrlBase, TimerBase, ResetBase};
  for (int i = 0; i < 4; ++i) {
    pages_[i] = TPage{&hardware_, bases[i]};
    uc_mmio_map(uc_, bases[i], 0x1000, PageRead, &pages_[i], PageWrite, &pages_[i]);
  }
}

TArmCpu::~TArmCpu() {
  if (uc_ != nullptr) uc_close(uc_);
}

void TArmCpu::Start(const std::vector<std::uint8_t>& image) {
  std::fill(ram_.begin(), ram_.end(), 0);
  std::copy_n(image.begin(), std::min<std::size_t>(image.size(), ram_.size()), ram_.begin());
  uc_ctl_remove_cache(uc_, RamBase, RamBase + RamSize);
  pc_ = RamBase;
  std::uint32_t cpsr = 0xD3;  // supervisor mode, ARM state, interrupts off
  uc_reg_write(uc_, UC_ARM_REG_CPSR, &cpsr);
  fault_.clear();
}

TArmCpu::TStop TArmCpu::Run(std::uint64_t maxInstructions) {
  if (!fault_.empty()) return TStop::Faulted;
  hardware_.ClearStall();
  uc_err err = uc_emu_start(uc_, pc_, 0xFFFFFFFF, 0, maxInstructions);
  std::uint32_t pc = 0;
  uc_reg_read(uc_, UC_ARM_REG_PC, &pc);
  pc_ = pc;
  if (err != UC_ERR_OK) {
    fault_ = std::string(uc_strerror(err)) + " at pc 0x" + [&] {
      char text[16];
      std::snprintf(text, sizeof text, "%08X", pc);
      return std::string(text);
    }();
    return TStop::Faulted;
  }
  if (resetRequested_) {
    resetRequested_ = false;
    return TStop::Reset;
  }
  return hardware_.Stalled() ? TStop::Stalled : TStop::Budget;
}

void TArmCpu::RequestStop() {
  resetRequested_ = true;
}

}  // namespace sim
