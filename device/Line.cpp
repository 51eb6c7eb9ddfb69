#include "device/Line.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sim {

std::uint8_t Garble(std::uint8_t byte) {
  return static_cast<std::uint8_t>(((byte << 3) | (byte >> 5)) ^ 0xA7);
}

TAdapterHold::TRelease TAdapterHold::Add(Clock::time_point arrival) {
  if (latency_ <= Clock::duration::zero()) return {arrival, 0};
  if (held_ > 0 && arrival >= first_ + latency_) held_ = 0;  // the timer let those go
  if (held_ == 0) first_ = arrival;
  if (++held_ == PacketBytes) {
    held_ = 0;
    return {arrival, PacketBytes - 1};
  }
  return {first_ + latency_, 0};
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

Clock::duration TLine::ByteTime() const {
  if (!timing_) return Clock::duration::zero();
  RefreshSettings();
  const double baud = speed_ > 0 ? speed_ : expectedBaud_;
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(10.0 / baud));  // 10 bits a byte
}

void TLine::ReadAvailable() {
  std::uint8_t buffer[4096];
  ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
  if (n <= 0) return;
  const bool match = SettingsMatch();
  const auto now = Clock::now();
  if (lastWritten_ != Clock::time_point{}) {
    if (turnaroundsUs_.size() < kTurnaroundLimit)
      turnaroundsUs_.push_back(
          std::chrono::duration_cast<std::chrono::microseconds>(now - lastWritten_).count());
    lastWritten_ = {};
  }
  const auto byteTime = ByteTime();
  if (inClock_ < now) inClock_ = now;
  for (ssize_t i = 0; i < n; ++i) {
    std::uint8_t b = match ? buffer[i] : Garble(buffer[i]);
    inClock_ += byteTime;
    inbox_.emplace_back(inClock_, b);
  }
  received_ += static_cast<std::uint64_t>(n);
}

Bytes TLine::TakeArrived() {
  Bytes arrived;
  for (const auto& [due, byte] : inbox_) arrived.push_back(byte);
  if (!inbox_.empty()) lastArrival_ = inbox_.back().first;
  inbox_.clear();
  return arrived;
}

void TLine::Send(const Bytes& bytes, Clock::time_point notBefore) {
  for (std::uint8_t b : bytes) Send(b, notBefore);
}

void TLine::Send(std::uint8_t byte, Clock::time_point notBefore) {
  // An idle line gives no credit for the time it idled: the first byte starts now. A byte is
  // the updater's once its stop bit is through (and the adapter lets it go).
  const auto start = std::max({lineFree_, Clock::now(), timing_ ? notBefore : Clock::time_point{}});
  lineFree_ = start + ByteTime();
  const TAdapterHold::TRelease release = hold_.Add(lineFree_);
  if (outbox_.size() >= kOutboxLimit) outbox_.pop_front();  // nobody listens: the line loses it
  const std::size_t earlier = std::min(release.AlsoEarlier, outbox_.size());
  for (std::size_t i = outbox_.size() - earlier; i < outbox_.size(); ++i)
    outbox_[i].Due = release.At;
  outbox_.push_back({release.At, SettingsMatch() ? byte : Garble(byte)});
}

void TLine::Send(const char* text, Clock::time_point notBefore) {
  Send(Bytes(text, text + std::strlen(text)), notBefore);
}

bool TLine::WantsWrite() const {
  return !outbox_.empty() && outbox_.front().Due <= Clock::now();
}

void TLine::WriteDue() {
  const auto now = Clock::now();
  std::uint8_t chunk[4096];
  std::size_t count = 0;
  while (count < outbox_.size() && count < sizeof chunk && outbox_[count].Due <= now) {
    chunk[count] = outbox_[count].Byte;
    ++count;
  }
  if (count == 0) return;
  const auto lastDue = outbox_[count - 1].Due;
  ssize_t n = ::write(pty_.MasterFd(), chunk, count);
  if (n < 0 && errno == EINTR) return;  // the next turn of the loop writes them
  if (n <= 0) {
    // The terminal is full: nobody reads the other end. A UART's transmitter does not wait for
    // a reader; the bytes go out on the line and are lost, and the device sleeps until its next
    // output instead of retrying at once.
    outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(count));
    dropped_ += count;
    return;
  }
  outbox_.erase(outbox_.begin(), outbox_.begin() + n);
  sent_ += static_cast<std::uint64_t>(n);
  if (outbox_.empty()) {
    const auto written = Clock::now();
    const auto late = std::chrono::duration<double, std::micro>(written - lastDue).count();
    lateUs_ += late;
    if (latesUs_.size() < kTurnaroundLimit) latesUs_.push_back(static_cast<std::int64_t>(late));
    lastWritten_ = written;
  }
}

double TLine::Median(std::vector<std::int64_t> values) {
  if (values.empty()) return 0;
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return static_cast<double>(*middle);
}

std::int64_t TLine::NextTimeoutUs() const {
  if (outbox_.empty()) return -1;
  const auto now = Clock::now();
  auto until = [&](Clock::time_point t) -> std::int64_t {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - now).count();
    return us < 0 ? 0 : us;
  };
  // Wake-ups are spent where they matter: a reply goes out in slices of about Slice, its last
  // byte exactly on time.
  constexpr auto Slice = std::chrono::milliseconds(2);
  return until(std::min(outbox_.back().Due, std::max(outbox_.front().Due, now + Slice)));
}

void TLine::DropInput() {
  inbox_.clear();
}

}  // namespace sim
