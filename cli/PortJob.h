// One port's job from the command line: its run control with a front of its own, driven from the
// command's one call queue, so that several ports run at once and never wait for each other.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "cli/LogPrinter.h"
#include "cli/Options.h"
#include "cli/PortArgument.h"
#include "programmer/CallQueue.h"
#include "programmer/RunControl.h"

// What to do after "Receiver not answer!" (standard error only): the receiver may wait in its
// bootloader after a job was stopped twice.
std::string NoAnswerHint();

class TPortJob : public TRunControlFront, public std::enable_shared_from_this<TPortJob> {
 public:
  // given: the port as the operator gave it; prefix: what starts each line on standard error
  // ("" for a single port, whose output stays as it always was).
  TPortJob(TCallQueue& queue, TDM& dm, TLogPrinter& printer, std::string given, std::string prefix);
  ~TPortJob() override;

  // Where the job's error lines go (each with its prefix) instead of straight to standard error:
  // the shared output that keeps live status lines on a terminal.
  void SetErrorOut(std::function<void(const std::string&)> out) { errorOut_ = std::move(out); }
  // Starts the job on the resolved port; false when it ended at once (Exit() tells how).
  // images: the start's images, read once for the whole run (null: the job reads --file).
  bool Start(const TCliOptions& options, const TResolvedPort& port,
             std::shared_ptr<const TImagesLoad> images = nullptr);
  // Marks a port that could not even be resolved as ended with that status.
  void EndAtStart(int exit, const std::string& message);
  // Ctrl+C: the stop the single-port job makes (the restart owed to the resident still goes).
  void RequestStop();
  // The job's report came (or it was stopped) and its thread has ended.
  bool Done() const;
  // Lets the thread go and the session; called once Done() holds.
  void Close();

  // What the job came to.
  const std::string& Given() const { return given_; }
  const std::string& Device() const { return device_; }
  int Exit() const;
  bool Stopped() const { return stopped_; }
  // The job was stopped because its port went away.
  bool PortLost() const;
  // The programming thread's result, or nothing when the job never reached the thread.
  std::optional<std::int32_t> Result() const;
  const std::string& FinalMessage() const { return message_; }
  std::shared_ptr<TJob> Job() const { return control_ ? control_->Job() : nullptr; }
  double Seconds() const;
  // When the job was made (the calendar time).
  std::time_t StartedAt() const { return startedAt_; }
  std::vector<std::string> Log() { return printer_.Lines(); }
  std::string CurrentLine();

  // TRunControlFront, on the queue's thread.
  void EnableControls(bool, bool) override {}
  void ClearLog() override { printer_.Clear(); }
  void ShowProgress(const TProgressInfo& info) override;
  void Synchronize(const std::function<void()>& fn) override;
  void Post(int, std::function<void()> fn) override;
  void RunCallsUntil(const std::function<bool()>& done) override { queue_.RunUntil(done); }
  // The job's end: its exit status, its lines on standard error (or the log, for a success) and
  // the report's message.
  void JobEnded(const TJobOutcome& outcome) override;

 private:
  void Ended();
  // Prints the message's lines as errors and keeps its first line for the report.
  void PrintMessage(const std::vector<std::string>& lines);
  void VersionsChecked();
  // Prints the text's lines as errors (standard error, or the error output when set).
  void Error(const std::string& text);

  TCallQueue& queue_;
  TDM& dm_;
  TLogPrinter& printer_;
  std::string given_;
  std::string prefix_;
  std::string device_;
  std::shared_ptr<TRunControl> control_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::time_t startedAt_ = std::time(nullptr);
  std::optional<std::chrono::steady_clock::time_point> finished_;
  bool ended_ = false;
  bool stopped_ = false;
  bool startFailed_ = false;
  bool program_ = false;
  std::string file_;
  std::string expect_;  // --expect: the firmware version the line expects
  int exit_ = 0;
  std::string message_;
  std::function<void(const std::string&)> errorOut_;
  int crashSlot_ = -1;  // the job's place in a crash report
};

// Installs the message sink that prints every box on standard error; removed on destruction.
// The jobs' own messages come with their outcomes; this catches anything else.
class TJobMessages {
 public:
  TJobMessages();
  ~TJobMessages();
};
