// One job: a versions inquiry or a programming run on one port. It carries everything the job
// needs (the port, the line, the reset method, the images with their sums) and everything it
// produces (the progress report, the versions read, the result), and the stop request that
// every wait of the job also wakes on. Nothing below the front ends keeps a job anywhere else,
// so several jobs can run at once in one process.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "platform/ComRegistry.h"
#include "platform/Event.h"
#include "programmer/ProgressLog.h"

// Commands of the programming thread.
constexpr std::int32_t ModePrepare = 0;
constexpr std::int32_t ModeVersions = 1;
constexpr std::int32_t ModeProgram = 2;

// Results of the programming thread's stages and of the job.
constexpr std::int32_t ResultNothing = 0;
constexpr std::int32_t ResultSuccess = 1;
constexpr std::int32_t ResultConnect = 2;
constexpr std::int32_t ResultResident = 3;
constexpr std::int32_t ResultErase = 4;
constexpr std::int32_t ResultWrite = 5;

struct TVersionInfo {
  std::string Number;
  std::string Date;
  std::string Time;
};

struct TReceiverVersions {
  TVersionInfo Boot;
  TVersionInfo Firmware;
};

// What a receiver says about itself in ZORP (packets 0x58 and 0x70); empty in NMEA, whose
// answer carries no such fields.
struct TReceiverIdentity {
  std::string ModuleNumber;
  std::string ModuleId;
  std::string ProductionDate;
  std::string DeviceId;
  bool Known() const {
    return !ModuleNumber.empty() || !ModuleId.empty() || !ProductionDate.empty() ||
           !DeviceId.empty();
  }
};

// Why a job was stopped.
enum class TStopReason { None, Requested, PortLost };

class TJob {
  std::shared_ptr<const TJobImages> images_;  // shared by every job of one start

 public:
  explicit TJob(std::shared_ptr<const TJobImages> images = std::make_shared<TJobImages>())
      : images_(std::move(images)), Images(*images_) {}
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;

  // Inputs, fixed before the job's threads start.
  plat::TPortEntry Port;  // resolved once: the COM number and the device behind it
  std::int32_t Rate = 115200;
  std::uint8_t Protocol = 0;  // the session's protocol code (0 NMEA, 1 ZORP)
  bool ResetAuto = false;
  const TJobImages& Images;
  // The production line's stages of a programming run, off unless a front end switches them on:
  // the written image read back and compared, and the firmware saved before it is erased.
  bool Verify = false;
  std::string BackupDir;    // empty: no backup
  std::string BackupLabel;  // the port as the backup's file name shows it
  // The versions command also reads the whole firmware back and compares it with its header.
  bool CheckFirmware = false;

  // The command for the programming thread and the outcome of its last stage.
  std::atomic<std::int32_t> WriteMode{ModePrepare};
  std::atomic<std::int32_t> WriteResult{ResultNothing};

  // Written by the programming thread; the front end reads them inside the thread's synchronous
  // reports, or once the thread has ended.
  TProgressInfo ProgressInfo;
  TReceiverVersions ReceiverVersions;
  // The production line's outcomes (read once the thread has ended).
  std::atomic<int> Verified{-1};          // -1 not compared, 0 a byte differs, 1 equal
  std::string BackupPath;                 // the backup written, or empty
  bool BackupDamaged = false;             // the firmware backed up did not match its own sum
  std::atomic<int> FirmwareComplete{-1};  // versions --check: -1 not read, 0 damaged, 1 complete
  // Taken from the session just before the restart command (ZORP only).
  TReceiverIdentity Identity;

  // Stopping: the first reason given stays.
  void RequestStop(TStopReason reason);
  bool StopRequested() const { return Stop.Requested(); }
  TStopReason StopReason() const { return stopReason_.load(); }
  plat::TStopSignal Stop;

 private:
  std::atomic<TStopReason> stopReason_{TStopReason::None};
};
