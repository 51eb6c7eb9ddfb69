#include "programmer/JobEngine.h"

#include "programmer/SystemWriteThrU.h"
#include "receiver/NavReceiverExU.h"

namespace {

class TNavSession : public TJobSession {
 public:
  explicit TNavSession(std::int32_t timeoutMs) : receiver_(std::make_shared<TNavReceiver>()) {
    receiver_->SetTimeout(timeoutMs);
  }
  ~TNavSession() override { Release(!watchedByThread_); }

  bool Connect(const plat::TPortEntry& port, std::int32_t rate, std::uint8_t protocol,
               int& error) override {
    receiver_->OnNoAnswer.Bind<&TNavSession::NoAnswer>(this);
    receiver_->OnConnected.Bind<&TNavSession::Connected>(this);
    receiver_->Port().OnLost.Bind<&TNavSession::Lost>(this);  // a thread takes it over
    receiver_->Connect(port, rate, protocol);
    if (receiver_->Opened()) return true;
    error = receiver_->Port().LastOpenError();
    Release(true);
    return false;
  }
  bool OpenRaw(const plat::TPortEntry& port, std::int32_t rate, int& error) override {
    if (receiver_->OpenRaw(port, rate)) return true;
    error = receiver_->Port().LastOpenError();
    return false;
  }
  void Release(bool lost) override {
    receiver_->OnConnected.Clear();
    receiver_->OnNoAnswer.Clear();
    if (lost) receiver_->Port().OnLost.Clear();
  }
  const std::shared_ptr<TNavReceiver>& Receiver() {
    watchedByThread_ = true;
    return receiver_;
  }

 private:
  void Connected(TNavReceiver*) {
    if (OnConnected) OnConnected();
  }
  void NoAnswer(TNavReceiver*) {
    if (OnNoAnswer) OnNoAnswer();
  }
  void Lost(TPortIO*) {
    if (OnLost) OnLost();
  }

  bool watchedByThread_ = false;
  // Last: the receiver's threads end (when nothing else holds it) while the rest still lives.
  std::shared_ptr<TNavReceiver> receiver_;
};

class TWriteThread : public TJobThread {
 public:
  TWriteThread(std::shared_ptr<TJob> job, std::shared_ptr<TNavSession> session,
               std::shared_ptr<TJobView> view)
      : session_(std::move(session)),
        thread_(std::make_shared<TSystemWriteThr>(std::move(job), session_->Receiver(),
                                                  std::move(view))) {}
  void SetWriteMode(std::int32_t mode) override { thread_->SetWriteMode(mode); }
  void Stop() override { thread_->Stop(); }
  bool Started() const override { return thread_->Started(); }
  bool Finished() const override { return thread_->Finished(); }
  bool Released() const override { return thread_->Released(); }

 private:
  std::shared_ptr<TNavSession> session_;  // outlives the thread that uses its port
  std::shared_ptr<TSystemWriteThr> thread_;
};

class TReceiverEngine : public TJobEngine {
 public:
  std::shared_ptr<TJobSession> MakeSession(std::int32_t timeoutMs) override {
    return std::make_shared<TNavSession>(timeoutMs);
  }
  std::shared_ptr<TJobThread> MakeThread(std::shared_ptr<TJob> job,
                                         std::shared_ptr<TJobSession> session,
                                         std::shared_ptr<TJobView> view) override {
    return std::make_shared<TWriteThread>(
        std::move(job), std::static_pointer_cast<TNavSession>(std::move(session)), std::move(view));
  }
};

}  // namespace

std::shared_ptr<TJobEngine> ReceiverEngine() {
  return std::make_shared<TReceiverEngine>();
}
