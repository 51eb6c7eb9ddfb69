// Finding the protocol and bit rate a receiver answers at: one receiver session per try, each
// with the session's own rules (two poll cycles, the answer time-out), on a thread of its own
// that a stop ends at any moment.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct TScanTry {
  std::uint8_t Protocol = 0;  // ProtocolZorp or ProtocolNmea
  std::int32_t Rate = 0;
  bool operator==(const TScanTry&) const = default;
};

enum class TScanOutcome {
  Answered,    // the receiver answered a poll
  Silent,      // two poll cycles went unanswered
  OpenFailed,  // the port could not be opened (the errno in the report)
  Stopped,     // the scan was stopped during this try
};

// The bit rates of the window's list, the most common settings of receivers first.
extern const std::int32_t ScanRates[7];

// The tries, in order: the chosen protocol at the chosen rate (only with includeChosen), the
// other protocol at the chosen rate, then each other rate of the list with the chosen protocol
// first.
std::vector<TScanTry> ScanOrder(std::uint8_t protocol, std::int32_t rate, bool includeChosen);

// "NMEA" or "ZORP".
const char* ProtocolName(std::uint8_t protocol);

class TProtocolScan {
 public:
  TProtocolScan(std::int32_t port, std::vector<TScanTry> tries, std::int32_t timeoutMs);
  ~TProtocolScan();  // stops
  TProtocolScan(const TProtocolScan&) = delete;
  TProtocolScan& operator=(const TProtocolScan&) = delete;

  // Called on the scan's thread; set them before Start.
  std::function<void(const TScanTry&)> OnTry;                              // a try begins
  std::function<void(const TScanTry&, TScanOutcome, int error)> OnResult;  // its outcome
  // Once, when the scan ends on its own: the try that answered, or none.
  std::function<void(const TScanTry* answered)> OnFinished;

  void Start();
  // Ends the scan: the current session is released and the thread has ended when this returns.
  // No report follows a stop.
  void Stop();
  bool Running() const;

 private:
  void Run();
  // Waits for the verdict of the connected session, or for a stop.
  TScanOutcome Await();

  const std::int32_t port_;
  const std::vector<TScanTry> tries_;
  const std::int32_t timeoutMs_;
  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool running_ = false;
  bool connected_ = false;
  bool noAnswer_ = false;
  struct TVerdict;
};
