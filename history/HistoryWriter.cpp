#include "history/HistoryWriter.h"

namespace hist {

namespace {
// How long records go straight to the local file after the server failed, before it is asked
// again: a station does not wait for an absent server with every receiver.
constexpr auto ServerRetryAfter = std::chrono::seconds(30);
}  // namespace

THistoryWriter::THistoryWriter(THistoryTarget target, TNote note)
    : target_(std::move(target)), note_(std::move(note)) {}

THistoryWriter::~THistoryWriter() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    closing_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void THistoryWriter::Add(TJobRecord record, std::string tag) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    pending_.emplace_back(std::move(record), std::move(tag));
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

void THistoryWriter::Run() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
    if (pending_.empty()) return;
    auto [record, tag] = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    std::string note, error;
    const bool serverDown = std::chrono::steady_clock::now() < serverRetryAt_;
    const bool stored = RecordJob(target_, std::move(record), note, error, serverDown);
    if (!note.empty() && !serverDown)
      serverRetryAt_ = std::chrono::steady_clock::now() + ServerRetryAfter;
    if (note_) {
      if (!note.empty()) note_(tag, note);
      if (!stored) note_(tag, "the record could not be stored: " + error);
    }
    lock.lock();
  }
}

}  // namespace hist
