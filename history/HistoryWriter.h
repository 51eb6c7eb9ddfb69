// Writes records on a thread of its own, in the order given, so that a front end never waits for
// a file lock or a server that is slow to answer: the jobs still running and the window go on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"

namespace hist {

class THistoryWriter {
 public:
  // Told, on the writer's thread, what the operator should know: a record kept locally because
  // the server could not be reached, or a record that could be stored nowhere.
  using TNote = std::function<void(const std::string& tag, const std::string& text)>;
  THistoryWriter(THistoryTarget target, TNote note);
  // Waits for the records still being written.
  ~THistoryWriter();
  THistoryWriter(const THistoryWriter&) = delete;
  THistoryWriter& operator=(const THistoryWriter&) = delete;

  // tag: handed back with the record's note (the command line's port prefix).
  void Add(TJobRecord record, std::string tag = "");

 private:
  void Run();

  THistoryTarget target_;
  TNote note_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::pair<TJobRecord, std::string>> pending_;
  bool closing_ = false;
  std::thread thread_;
  // After the server failed, records go straight to the local file for a while.
  std::chrono::steady_clock::time_point serverRetryAt_{};
};

}  // namespace hist
