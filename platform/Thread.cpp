#include "platform/Thread.h"

#include <chrono>

namespace plat {

TThread::~TThread() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();  // the body dropped the last reference on its way out
  else
    thread_.join();
}

void TThread::Resume() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_) {
    started_ = true;
    std::shared_ptr<TThread> self = shared_from_this();
    thread_ = std::thread([self] {
      self->Execute();
      {
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->finished_ = true;
      }
      self->cond_.notify_all();
    });
    return;
  }
  resumePending_ = true;
  cond_.notify_all();
}

void TThread::Terminate() {
  std::lock_guard<std::mutex> lock(mutex_);
  terminated_ = true;
}

bool TThread::Terminated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminated_;
}

bool TThread::WaitFor(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_) return true;
  return cond_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                        [this] { return finished_; });
}

bool TThread::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return suspended_;
}

void TThread::SuspendSelf() {
  std::unique_lock<std::mutex> lock(mutex_);
  suspended_ = true;
  cond_.wait(lock, [this] { return resumePending_; });
  resumePending_ = false;
  suspended_ = false;
}

}  // namespace plat
