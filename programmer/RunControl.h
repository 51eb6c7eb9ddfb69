// The run control, without widgets: the checks of a start, the session with its 1500 ms
// time-out, "Auto" with its two notifications, "Manual", the parked thread after a versions
// inquiry, stopping the thread and the close guard. The window and the command line drive it
// on their UI thread with a TJobRequest; it reaches them through TRunControlFront and tells how
// each job ended as a TJobOutcome.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "programmer/JobEngine.h"
#include "programmer/JobRequest.h"
#include "programmer/JobView.h"

constexpr int SessionTimeoutMs = 1500;
// The window messages the session's notifications become.
constexpr int WM_RECEIVER_NO_ANSWER = 0xA40;
constexpr int WM_RECEIVER_CONNECTED = 0xA41;
constexpr int WM_RECEIVER_LOST = 0xA42;  // the session's port went away while it polled

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
  // How the job ended (also a start refused by its checks). By default the message boxes: the
  // notice, then the final message (CR between lines), when they have lines.
  virtual void JobEnded(const TJobOutcome& outcome);
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
  // engine: what makes the session and the thread (ReceiverEngine() in the programs).
  TRunControl(TDM& dm, TRunControlFront& front,
              std::shared_ptr<TJobEngine> engine = ReceiverEngine());
  ~TRunControl();

  enum class TStart {
    Started,         // a session connects (Auto) or the thread waits for the greeting (Manual)
    HandedToThread,  // the command went to the parked thread
    Refused,         // the checks refused it: JobEnded told why
  };
  // A parked thread takes the request's mode with the job it has; otherwise the request is
  // checked, the images loaded (unless the request brings them) and a new job starts.
  TStart StartJob(const TJobRequest& request);
  // Asks the job to stop at once and returns: every wait of the job ends, the resident (when it
  // may be running) is sent the restart command, and the session is released. A stop before the
  // programming thread started ends the job here.
  void RequestStop();
  // RequestStop, then waits for the programming thread to end while the front end's calls run
  // (not from inside one of the thread's reports, which the thread waits for).
  void StopWriteThread();
  // The close guard: true when closing may go on. While a job runs, confirmStop asks the operator
  // (true: stop it); the job is stopped and its thread waited for before closing goes on.
  bool CloseQuery(const std::function<bool()>& confirmStop);
  // The window closes: the thread is stopped and waited for, the session released; no report
  // reaches the front end afterwards.
  void Close();

  bool JobRunning() const { return jobRunning_; }
  std::int32_t JobMode() const { return jobMode_; }
  // The last job's request, job and programming thread (none when the receiver never answered).
  const TJobRequest& Request() const { return request_; }
  std::shared_ptr<TJob> Job() const { return job_; }
  std::shared_ptr<TJobThread> LastThread() const { return SystemWriteThr; }
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

 private:
  class TThreadView;
  void CreateThread();
  // The session's port did not open (either reset method): the session is released and the
  // message, with the reason on its second line, shown.
  TStart RefuseUnopenedPort(const std::string& port);
  void ReleaseSession();
  // The thread that still holds its job (running or waiting for a command), or none.
  std::shared_ptr<TJobThread> CurrentThread() const;
  TStart Refuse(TJobOutcome outcome);
  // The session's port did not open (either reset method): the session is released and the
  // job ends with the reason.
  TStart RefuseUnopenedPort(int error);
  TJobOutcome Outcome(TJobEnd end) const;
  // The outcome of a job that reached the thread.
  TJobOutcome ThreadOutcome(const TJob& job) const;
  void ShowLine(const std::string& text, const std::string& status);

  TDM& dm_;
  TRunControlFront& front_;
  std::shared_ptr<TJobEngine> engine_;
  std::shared_ptr<TThreadView> view_;
  TJobRequest request_;
  std::shared_ptr<TJob> job_;
  // The window's receiver session and programming thread (UI thread only).
  std::shared_ptr<TJobSession> NavReceiver;
  std::shared_ptr<TJobThread> SystemWriteThr;
  int reporting_ = 0;  // inside one of the thread's synchronous reports
  bool jobRunning_ = false;
  bool polling_ = false;  // "Auto": the session looks for the receiver, no thread yet
  std::int32_t jobMode_ = ModeVersions;
};
