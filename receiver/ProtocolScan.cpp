#include "receiver/ProtocolScan.h"

#include <algorithm>

#include "receiver/NavReceiverExU.h"

const std::int32_t ScanRates[7] = {115200, 9600, 4800, 57600, 38400, 19200, 230400};

const char* ProtocolName(std::uint8_t protocol) {
  return protocol == ProtocolZorp ? "ZORP" : "NMEA";
}

std::vector<TScanTry> ScanOrder(std::uint8_t protocol, std::int32_t rate, bool includeChosen) {
  const std::uint8_t other = protocol == ProtocolZorp ? ProtocolNmea : ProtocolZorp;
  std::vector<TScanTry> tries;
  if (includeChosen) tries.push_back({protocol, rate});
  tries.push_back({other, rate});
  for (std::int32_t r : ScanRates) {
    if (r == rate) continue;
    tries.push_back({protocol, r});
    tries.push_back({other, r});
  }
  return tries;
}

// The session's notifications, carried to the scan's thread.
struct TProtocolScan::TVerdict {
  TProtocolScan* scan;
  void Connected(TNavReceiver*) { Note(&TProtocolScan::connected_); }
  void NoAnswer(TNavReceiver*) { Note(&TProtocolScan::noAnswer_); }
  void Note(bool TProtocolScan::*flag) {
    {
      std::lock_guard<std::mutex> guard(scan->lock_);
      scan->*flag = true;
    }
    scan->changed_.notify_all();
  }
};

TProtocolScan::TProtocolScan(std::int32_t port, std::vector<TScanTry> tries, std::int32_t timeoutMs)
    : port_(port), tries_(std::move(tries)), timeoutMs_(timeoutMs) {}

TProtocolScan::~TProtocolScan() {
  Stop();
}

void TProtocolScan::Start() {
  Stop();
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = false;
    running_ = true;
  }
  thread_ = std::thread([this] { Run(); });
}

void TProtocolScan::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TProtocolScan::Running() const {
  std::lock_guard<std::mutex> guard(lock_);
  return running_;
}

TScanOutcome TProtocolScan::Await() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return stop_ || connected_ || noAnswer_; });
  if (stop_) return TScanOutcome::Stopped;
  return connected_ ? TScanOutcome::Answered : TScanOutcome::Silent;
}

void TProtocolScan::Run() {
  const TScanTry* answered = nullptr;
  bool stopped = false;
  for (const TScanTry& attempt : tries_) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stop_) {
        stopped = true;
        break;
      }
      connected_ = noAnswer_ = false;
    }
    if (OnTry) OnTry(attempt);
    TVerdict verdict{this};
    TScanOutcome outcome;
    int error = 0;
    {
      // The session ends before the next try opens the port again.
      TNavReceiver session;
      session.SetTimeout(timeoutMs_);
      session.OnConnected.Bind<&TVerdict::Connected>(&verdict);
      session.OnNoAnswer.Bind<&TVerdict::NoAnswer>(&verdict);
      session.Connect(port_, attempt.Rate, attempt.Protocol);
      if (!session.Opened()) {
        outcome = TScanOutcome::OpenFailed;
        error = session.Port().LastOpenError();
      } else {
        outcome = Await();
      }
      session.OnConnected.Clear();
      session.OnNoAnswer.Clear();
    }
    if (outcome == TScanOutcome::Stopped) {
      stopped = true;
      break;
    }
    if (OnResult) OnResult(attempt, outcome, error);
    if (outcome == TScanOutcome::Answered) {
      answered = &attempt;
      break;
    }
    if (outcome == TScanOutcome::OpenFailed) break;  // another rate will not open it either
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    running_ = false;
    stopped = stopped || stop_;
  }
  if (!stopped && OnFinished) OnFinished(answered);
}
