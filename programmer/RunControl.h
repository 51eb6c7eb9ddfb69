// The run control, without widgets: the checks of a start, the session with its 1500 ms
// time-out, "Auto" with its two notifications, "Manual", the parked thread after a versions
// inquiry, stopping the thread and the close guard. The window and the command line drive it
// on their UI thread; it reaches them through TRunControlFront.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "programmer/JobView.h"
#include "programmer/SystemWriteThrU.h"
#include "receiver/NavReceiverExU.h"

constexpr int SessionTimeoutMs = 1500;
// The window messages the session's notifications become.
constexpr int WM_RECEIVER_NO_ANSWER = 0xA40;
constexpr int WM_RECEIVER_CONNECTED = 0xA41;
constexpr int WM_RECEIVER_LOST = 0xA42;  // the session's port went away while it polled

struct TJobInputs {
  std::string Port;               // the port box's text ("COM7")
  std::string Rate;               // the baud-rate box's text
  std::string Protocol;           // the protocol box's text ("ZORP", "NMEA")
  int ProtocolIndex = 1;          // 0 ZORP, 1 NMEA
  std::string SystemFile;         // the file field's text
  int ResetIndex = 1;             // 0 Auto, 1 Manual
  bool RequireSystemFile = true;  // the command line's versions inquiry needs none
  // The system file's bytes, read (and checked) once by the front end: the file is not read
  // again, so every job of a run writes the same bytes whatever happens to the file meanwhile.
  std::shared_ptr<const std::vector<std::uint8_t>> SystemFileBytes;
};

// The front end's side; every call comes on the UI thread unless said otherwise.
class TRunControlFront {
 public:
  virtual ~TRunControlFront() = default;
  virtual void EnableControls(bool inputs, bool buttons) = 0;
  virtual void ClearLog() = 0;
  virtual void ShowProgress(const TProgressInfo& info) = 0;  // a report into the log
  virtual void SelectLastLine() {}
  virtual void FocusLog() {}
  virtual void FocusProgButton() {}
  // From any thread: runs fn on the UI thread and returns when it has run.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  // From any thread: queues fn for the UI thread as the window message (WM_RECEIVER_...) and
  // returns at once.
  virtual void Post(int message, std::function<void()> fn) = 0;
  // On the UI thread: runs the calls that other threads synchronize or post until done() holds
  // (looked at after each call and at least every 100 ms).
  virtual void RunCallsUntil(const std::function<bool()>& done) = 0;
};

class TRunControl : public std::enable_shared_from_this<TRunControl> {
 public:
  // persistSettings: whether changed inputs are written to the settings file (the window).
  TRunControl(TDM& dm, TRunControlFront& front, bool persistSettings = true);
  ~TRunControl();

  enum class TStart {
    Started,          // a session connects (Auto) or the thread waits for the greeting (Manual)
    HandedToThread,   // the command went to the parked thread
    InputMissing,     // port, protocol, rate or system file path empty
    ResidentMissing,  // the resident image is not in the program
    SystemFileUnreadable,
    PortNotOpened,  // "Could not open ...!" (the reason in LastOpenError)
  };
  TStart StartJob(std::int32_t mode, const TJobInputs& inputs);
  int LastOpenError() const { return lastOpenError_; }
  // Asks the job to stop at once and returns: every wait of the job ends, the resident (when it
  // may be running) is sent the restart command, and the session is released. A stop before the
  // programming thread started ends the job here.
  void RequestStop();
  // RequestStop, then waits for the programming thread to end while the front end's calls run
  // (not from inside one of the thread's reports, which the thread waits for).
  void StopWriteThread();
  // The close guard: true when closing may go on (asks while a job runs).
  bool CloseQuery();
  // The window closes: the thread is stopped and waited for, the session released; no report
  // reaches the front end afterwards.
  void Close();

  bool JobRunning() const { return jobRunning_; }
  std::int32_t JobMode() const { return jobMode_; }
  // The last job and its programming thread (none when the receiver never answered).
  std::shared_ptr<TJob> Job() const { return job_; }
  std::shared_ptr<TSystemWriteThr> LastThread() const { return SystemWriteThr; }
  // True while the programming thread of the last job has not ended.
  bool ThreadRunning() const;
  // The second line of the final message when the job's port went away.
  static std::string PortLostText(const TJob& job);
  // "Firmware version: ..." and "Bootloader version: ..." with the separator between them.
  static std::string VersionsText(const TReceiverVersions& versions, const std::string& separator);

  // The window messages and the thread's reports, on the UI thread.
  void ReceiverConnected();
  void ReceiverNoAnswer();
  void ReceiverLost();
  void ShowVersions(TJob& job);
  void WriteFinished(TJob& job);

  // The window's reason line for a port that did not open (its errno): added to the message
  // on a line of its own when set.
  std::function<std::string(int error)> OpenFailureReason;
  // After the "Receiver not answer!" message (the window's diagnosis starts here).
  std::function<void()> OnNoAnswer;
  // Notified after the reports above (for the command line's exit).
  std::function<void()> OnFinished;  // WriteFinished, the no-answer verdict or a failed start
  std::function<void()> OnVersions;  // ShowVersions
  // Called with each new job before its threads start (the command line's production-line
  // switches: read-back verification, the backup before erasing).
  std::function<void(TJob&)> ConfigureJob;

 private:
  class TThreadView;
  void CreateThread();
  // The session's port did not open (either reset method): the session is released and the
  // message, with the reason on its second line, shown.
  TStart RefuseUnopenedPort(const std::string& port);
  void ReleaseSession();
  // The thread that still holds its job (running or waiting for a command), or none.
  std::shared_ptr<TSystemWriteThr> CurrentThread() const;
  std::shared_ptr<TJob> MakeJob(const TJobInputs& inputs) const;
  void ShowLine(const std::string& text, const std::string& status);
  void PostConnected(TNavReceiver*);
  void PostNoAnswer(TNavReceiver*);
  void PostLost(TPortIO*);
  void SaveChangedInputs(const TJobInputs& inputs, const std::string& previousFile);

  TDM& dm_;
  TRunControlFront& front_;
  const bool persistSettings_;
  std::shared_ptr<TThreadView> view_;
  std::shared_ptr<TJob> job_;
  // The window's receiver session and programming thread (UI thread only).
  std::shared_ptr<TNavReceiver> NavReceiver;
  std::shared_ptr<TSystemWriteThr> SystemWriteThr;
  int reporting_ = 0;  // inside one of the thread's synchronous reports
  bool jobRunning_ = false;
  bool polling_ = false;  // "Auto": the session looks for the receiver, no thread yet
  int lastOpenError_ = 0;
  std::int32_t jobMode_ = ModeVersions;
};
