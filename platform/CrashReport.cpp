// The parts of crash reporting that are the same on every system: the context the front ends
// feed, the report folder, the unseen report, and the test switch.
#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/CrashContext.h"
#include "platform/CrashReport.h"
#include "platform/UserFolders.h"

namespace plat {

namespace crash {

TContext& Context() {
  static TContext context;
  return context;
}

std::mutex& FeedLock() {
  static std::mutex lock;
  return lock;
}

std::string TerminateText() {
  std::string text = "std::terminate without an exception";
  if (std::exception_ptr current = std::current_exception()) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    std::string typeName = type != nullptr ? type->name() : "unknown";
    int status = 0;
    if (char* readable = abi::__cxa_demangle(typeName.c_str(), nullptr, nullptr, &status)) {
      typeName = readable;
      std::free(readable);
    }
    text = "unhandled C++ exception " + typeName;
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      text += ": ";
      text += e.what();
    } catch (...) {
    }
  }
  return text;
}

void CopyText(char* to, std::size_t size, const char* text, std::size_t length) {
  if (size == 0) return;
  const std::size_t n = length < size - 1 ? length : size - 1;
  std::memcpy(to, text, n);
  to[n] = '\0';
}

}  // namespace crash

using namespace crash;

std::string CrashReportFolder() {
#ifdef _WIN32
  return UserDataFolder() + "Crash Reports\\";
#else
  return UserDataFolder() + "crash/";
#endif
}

int CrashJobBegin(const std::string& port, const std::string& device, bool maySendRestart) {
  std::lock_guard<std::mutex> lock(FeedLock());
  for (int i = 0; i < MaxSlots; ++i) {
    TSlot& slot = Context().Slots[i];
    if (slot.Used.load()) continue;
    CopyText(slot.Port, sizeof slot.Port, port.data(), port.size());
    // The handler finds the port among the open descriptors by the device's real path.
    std::error_code ec;
    std::string real = device.empty() ? device : std::filesystem::canonical(device, ec).string();
    if (ec) real = device;
    CopyText(slot.Device, sizeof slot.Device, real.data(), real.size());
    slot.Stage[0] = '\0';
    slot.SendRestart = maySendRestart;
    slot.Used.store(true);
    return i;
  }
  return -1;
}

void CrashJobStage(int slot, const std::string& stage) {
  if (slot < 0 || slot >= MaxSlots) return;
  std::lock_guard<std::mutex> lock(FeedLock());
  TSlot& s = Context().Slots[slot];
  CopyText(s.Stage, sizeof s.Stage, stage.data(), stage.size());
}

void CrashJobEnd(int slot) {
  if (slot < 0 || slot >= MaxSlots) return;
  std::lock_guard<std::mutex> lock(FeedLock());
  Context().Slots[slot].Used.store(false);
}

void CrashLogLine(const std::string& line, bool replacesLast) {
  std::lock_guard<std::mutex> lock(FeedLock());
  TContext& c = Context();
  unsigned n = c.LineCount.load();
  if (replacesLast && n > 0) --n;
  CopyText(c.Lines[n % MaxLines], LineBytes, line.data(), line.size());
  c.LineCount.store(n + 1);
}

namespace {

// Report names hold their time (…-crash-YYYYMMDD-HHMMSS-PID.txt), so they sort by it.
std::string NewestReport(const std::string& folder) {
  std::string newest;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find("-crash-") == std::string::npos || name.size() < 4 ||
        name.compare(name.size() - 4, 4, ".txt") != 0)
      continue;
    if (name.substr(name.find("-crash-")) >
        (newest.empty() ? "" : newest.substr(newest.find("-crash-"))))
      newest = name;
  }
  return newest;
}

}  // namespace

std::string UnseenCrashReport(const std::string& folder) {
  const std::string newest = NewestReport(folder);
  if (newest.empty()) return {};
  std::ifstream in(folder + "seen");
  std::string seen;
  std::getline(in, seen);
  return seen == newest ? std::string() : folder + newest;
}

void MarkCrashReportSeen(const std::string& folder) {
  const std::string newest = NewestReport(folder);
  if (!newest.empty()) std::ofstream(folder + "seen", std::ios::trunc) << newest << "\n";
}

namespace {

[[noreturn]] void ThrowAsked(const char* where) {
  throw std::runtime_error(std::string("a crash asked for in the ") + where + " thread");
}

// A noexcept frame between the throw and every handler of the caller: nothing can catch it, as
// with an exception that leaves a thread's function.
void ThrowUncaught(const char* where) noexcept {
  ThrowAsked(where);
}

}  // namespace

void CrashIfAsked(const char* where) {
  const char* asked = std::getenv("ZV8810_TEST_CRASH");
  if (asked == nullptr) return;
  const std::string wish = asked;
  const std::string place = wish.substr(0, wish.find_first_of(":@"));
  if (place != where) return;
  // "@N": the Nth time the place is passed (the first by default).
  static std::atomic<int> passed{0};
  const std::size_t at = wish.find('@');
  const int wanted = at == std::string::npos ? 1 : std::atoi(wish.c_str() + at + 1);
  if (++passed < wanted) return;
  if (wish.find(":exception") != std::string::npos) ThrowUncaught(where);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

}  // namespace plat
