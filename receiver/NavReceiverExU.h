// The session with a receiver that runs its working firmware (NMEA or ZORP): connecting,
// polling, the verdict after two unanswered poll cycles, the restart into the bootloader, and
// the snapshot of what the receiver reported about itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Callback.h"
#include "transport/PortIOUEx.h"

constexpr std::uint8_t ProtocolZorp = 1;
constexpr std::uint8_t ProtocolNmea = 0;
constexpr int CompositionBufferSize = 801;
constexpr std::int32_t NoReportedValue = -999;

struct TReceiverProperties {
  std::string ModuleNumber;
  std::string ProductionDate;
  std::string ModuleId;
  std::string Reserved4, Reserved5, Reserved6;  // emptied by Connect; nothing fills them
  std::string DeviceId;
  std::int32_t DeviceCode = 0;
  std::int32_t ReportedValue = 0;
  std::int32_t Reserved10a = 0, Reserved10b = 0;  // never set
  std::int32_t Baud = 0;
  std::uint8_t ProtocolCode = ProtocolZorp;
};

// NMEA checksum: exclusive-or of the characters from the second through the last.
std::uint8_t NmeaChecksum(const std::string& sentence);
// The sentence as it goes on the wire: text, "*", two upper-case hex digits, CR LF.
std::string NmeaWireForm(const std::string& sentence);

class TNavReceiver {
 public:
  TNavReceiver();
  ~TNavReceiver();
  TNavReceiver(const TNavReceiver&) = delete;
  TNavReceiver& operator=(const TNavReceiver&) = delete;

  void SetTimeout(std::int32_t milliseconds);
  void Connect(std::int32_t port, std::int32_t rate, std::uint8_t protocol);
  // The same, on a port whose device was resolved already.
  void Connect(const plat::TPortEntry& port, std::int32_t rate, std::uint8_t protocol);
  void Disconnect();
  void Restart(bool mode);
  // The restart into the bootloader with its acknowledgement awaited: the search for the text is
  // armed before the command goes out. Returns the event that tells the text arrived.
  plat::TEvent& RestartAwaiting(const std::string& acknowledgement);
  // Opens the port for a receiver that the operator power-cycles into its bootloader: at the
  // rate, without parity, raw, and without polling. False when it did not open (the reason in
  // the port's LastOpenError).
  bool OpenRaw(const plat::TPortEntry& port, std::int32_t rate);
  // The session's part ends and its port is handed over for the bootloader phase: the answer
  // time-out and the session's awaited text stop, and the line runs at the rate without parity,
  // raw. A line already so stays open; any other is closed and opened again, which can fail
  // (IsOpen tells).
  TPortIO& HandOver(std::int32_t rate);
  TReceiverProperties GetProperties() const;
  void SendNmea(const std::string& sentence);
  TPortIO& Port() { return port_; }
  bool Opened() const { return opened_; }
  bool Connected() const;

  std::vector<std::string> Log() const;
  std::string LastLogLine() const;

  // Self-test accumulators and latest payloads (ZORP).
  std::uint32_t TestFlags() const;
  std::uint32_t TestBits() const;
  std::int32_t TestCount() const;
  bool CoordinatesAvailable() const;

  plat::TCallback<TNavReceiver*> OnConnected;
  plat::TCallback<TNavReceiver*> OnNoAnswer;
  plat::TCallback<TNavReceiver*> OnLog;
  plat::TCallback<TNavReceiver*> OnCoordinates;
  plat::TCallback<TNavReceiver*> OnTestResult;
  plat::TCallback<TNavReceiver*> OnRawBlock;

 private:
  void StartPolling();
  void PollCycle();
  void ConfirmConnection();
  void PollAnswered();
  void PortTimeout(TPortIO* port);
  void PortAnswer(const std::uint8_t* bytes, int count, const std::string& answer);
  void PortPacket(const std::uint8_t* bytes, int length);
  void AddLog(const std::string& line);
  void SendPacket(const std::uint8_t* packet, int length);
  void SendPacketId(std::uint8_t id);

  // ZORP packet handlers (ZorpPackets.cpp).
  void HandleSelfTestNotice();
  void HandleSelfTestResult(const std::uint8_t* payload);
  void HandleModuleIdentity(const std::uint8_t* payload);
  void HandleDeviceIdentity(const std::uint8_t* payload);
  void HandleRawBlock(const std::uint8_t* payload);
  void HandleNavigationStatus(const std::uint8_t* payload);
  void HandleReportedValue(const std::uint8_t* payload, int payloadLength);

  TPortIO port_;
  mutable std::mutex propertiesLock_;
  TReceiverProperties properties_;
  bool opened_ = false;
  mutable std::mutex stateLock_;
  bool connected_ = false;
  bool pollPending_ = false;
  // Plain fields in the protocol's terms, touched from the caller, reader and timer threads.
  std::atomic<std::uint8_t> pollCount_{0};
  std::atomic<bool> restartSent_{false};

  mutable std::mutex dataLock_;
  bool coordinatesAvailable_ = false;
  std::uint8_t navigationStatus_[69] = {};
  mutable std::mutex testLock_;
  std::uint8_t testResult_[6] = {};
  std::uint32_t testFlags_ = 0;
  std::uint32_t testBits_ = 0;
  std::int32_t testCount_ = 0;
  std::mutex rawBlockLock_;
  std::uint8_t rawBlock_[480] = {};
  mutable std::mutex logLock_;
  std::vector<std::string> log_;

  std::mutex sendLock_;  // guards the composition buffer
  std::uint8_t composition_[CompositionBufferSize] = {};
};
