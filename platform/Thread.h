// A worker thread object: created suspended, started by the first Resume, able to wait for the
// next Resume, asked to terminate, and freed when its body ends and nobody else holds it.
//
// Lifetime: create it with std::make_shared. While the body runs the thread holds a reference to
// itself, so "free on terminate" is simply the last reference going away; whoever still holds a
// reference (for example to wait with a bound) keeps the object valid.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace plat {

class TThread : public std::enable_shared_from_this<TThread> {
 public:
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // The first call starts the body; later calls release a body waiting in SuspendSelf (a Resume
  // given while the body is busy is kept and ends its next SuspendSelf at once).
  void Resume();
  void Terminate();
  bool Terminated() const;
  // True when the body has returned (or was never started and never will be).
  bool WaitFor(int milliseconds);
  bool Started() const;
  bool Finished() const;
  // True when the body waits in SuspendSelf.
  bool Suspended() const;

 protected:
  TThread() = default;
  virtual void Execute() = 0;
  // Waits for the next Resume.
  void SuspendSelf();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  std::thread thread_;
  bool started_ = false;
  bool finished_ = false;
  bool resumePending_ = false;
  bool suspended_ = false;
  bool terminated_ = false;
};

}  // namespace plat
