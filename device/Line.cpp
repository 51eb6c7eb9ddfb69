#include "device/Line.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sim {

std::uint8_t Garble(std::uint8_t byte) {
  return static_cast<std::uint8_t>(((byte << 3) | (byte >> 5)) ^ 0xA7);
}

void TLine::Expect(int baud, bool oddParity) {
  expectedBaud_ = baud;
  expectedOdd_ = oddParity;
}

void TLine::RefreshSettings() const {
  const auto now = Clock::now();
  if (now - settingsRead_ < std::chrono::milliseconds(2)) return;
  settingsRead_ = now;
  speed_ = pty_.Speed();
  odd_ = pty_.OddParity();
}

bool TLine::SettingsMatch() const {
  RefreshSettings();
  return speed_ == expectedBaud_ && odd_ == expectedOdd_;
}

double TLine::ByteMs() const {
  RefreshSettings();
  return 10000.0 / (speed_ > 0 ? speed_ : expectedBaud_);  // 10 bits a byte
}

void TLine::ReadAvailable() {
  std::uint8_t buffer[4096];
  ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
  if (n <= 0) return;
  const bool match = SettingsMatch();
  const auto now = Clock::now();
  const auto byteTime = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(ByteMs()));
  if (inClock_ < now) inClock_ = now;
  for (ssize_t i = 0; i < n; ++i) {
    std::uint8_t b = match ? buffer[i] : Garble(buffer[i]);
    if (timing_) inClock_ += byteTime;
    inbox_.emplace_back(timing_ ? inClock_ : now, b);
  }
  received_ += static_cast<std::uint64_t>(n);
}

Bytes TLine::TakeArrived() {
  Bytes arrived;
  const auto now = Clock::now();
  while (!inbox_.empty() && inbox_.front().first <= now) {
    arrived.push_back(inbox_.front().second);
    inbox_.pop_front();
  }
  return arrived;
}

void TLine::Send(const Bytes& bytes) {
  for (std::uint8_t b : bytes) Send(b);
}

void TLine::Send(std::uint8_t byte) {
  // An idle line gives no credit for the time it idled: the first byte starts now.
  if (outbox_.empty() && outReady_ < Clock::now()) outReady_ = Clock::now();
  if (outbox_.size() >= kOutboxLimit) outbox_.pop_front();  // nobody listens: the line loses it
  outbox_.push_back(SettingsMatch() ? byte : Garble(byte));
}

void TLine::Send(const char* text) {
  Send(Bytes(text, text + std::strlen(text)));
}

bool TLine::WantsWrite() const {
  return !outbox_.empty() && (!timing_ || outReady_ <= Clock::now());
}

void TLine::WriteDue() {
  if (outbox_.empty()) return;
  std::size_t count = outbox_.size();
  const auto now = Clock::now();
  auto byteTime = std::chrono::duration<double, std::milli>(ByteMs());
  if (timing_) {
    if (outReady_ > now) return;
    auto elapsed = std::chrono::duration<double, std::milli>(now - outReady_);
    count = std::min<std::size_t>(count, 1 + static_cast<std::size_t>(elapsed / byteTime));
  }
  std::uint8_t chunk[4096];
  count = std::min(count, sizeof chunk);
  std::copy_n(outbox_.begin(), count, chunk);
  ssize_t n = ::write(pty_.MasterFd(), chunk, count);
  if (n <= 0) return;  // the terminal is full: try again when it has room
  outbox_.erase(outbox_.begin(), outbox_.begin() + n);
  sent_ += static_cast<std::uint64_t>(n);
  if (timing_)
    outReady_ += std::chrono::duration_cast<Clock::duration>(byteTime * static_cast<double>(n));
}

std::int64_t TLine::NextTimeoutUs() const {
  const auto now = Clock::now();
  auto until = [&](Clock::time_point t) -> std::int64_t {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - now).count();
    return us < 0 ? 0 : us;
  };
  // Wake-ups are spent where they matter: a burst that arrives is handed over when its last
  // byte is due (nothing acts on half a command), one that leaves goes out in slices of about
  // Slice, its last byte exactly on time.
  constexpr auto Slice = std::chrono::milliseconds(2);
  std::int64_t timeout = -1;
  if (!inbox_.empty()) timeout = until(inbox_.back().first);
  if (timing_ && !outbox_.empty()) {
    const auto byteTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(ByteMs()));
    const auto last = outReady_ + byteTime * static_cast<long>(outbox_.size() - 1);
    std::int64_t out = until(std::min(last, std::max(outReady_, now + Slice)));
    timeout = timeout < 0 ? out : std::min(timeout, out);
  }
  return timeout;
}

void TLine::DropInput() {
  inbox_.clear();
}

}  // namespace sim
