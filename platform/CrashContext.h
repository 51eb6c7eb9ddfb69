// The crash handler's view of the program (shared by CrashReport.cpp and the per-system
// handler): fixed-size storage only, so that a handler reads it without allocating. Writers (the
// front ends) hold FeedLock; the handler reads without it (a line being written at the moment of
// the crash may show cut).
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

namespace plat::crash {

constexpr int MaxSlots = 32;
constexpr int MaxLines = 50;
constexpr std::size_t LineBytes = 320;

struct TSlot {
  std::atomic<bool> Used{false};
  bool SendRestart = false;
  char Port[64] = {};
  char Device[256] = {};
  char Stage[LineBytes] = {};
};

struct TContext {
  char Program[64] = {};
  char Version[32] = {};
  char Folder[1024] = {};
  int ExitStatus = 70;
  bool PrintPath = true;
  TSlot Slots[MaxSlots];
  char Lines[MaxLines][LineBytes] = {};
  std::atomic<unsigned> LineCount{0};  // lines ever added; the last MaxLines are kept
};

TContext& Context();
std::mutex& FeedLock();
// What std::terminate was called for: the exception's readable type and what(), or that there
// was none. Called from the terminate handler, where allocating is still allowed.
std::string TerminateText();
// Copies text into a fixed buffer, cut to fit, always ended by a zero.
void CopyText(char* to, std::size_t size, const char* text, std::size_t length);

// The resident's restart command: the bootloader link's frame (the rate 115200 as four bytes,
// low first, then 'Z' and a zero argument), sent after the resident's silence (a resident taking
// frame data hears a command only after 1.2 s without bytes).
constexpr unsigned char RestartFrame[9] = {0x00, 0xC2, 0x01, 0x00, 'Z', 0, 0, 0, 0};
constexpr int RestartSilenceMs = 1300;

}  // namespace plat::crash
