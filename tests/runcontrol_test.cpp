// The run control's decisions with a scripted session and thread: the start checks, "Auto" with
// its two notifications and a lost port, "Manual", the parked thread after a versions inquiry and
// the close guard. No port, no thread: the test plays the session's notifications and the
// thread's reports itself.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "programmer/RunControl.h"
#include "tests/TestSupport.h"

namespace {

struct TScriptedSession : TJobSession {
  int openError = 0;  // Connect fails with it when set
  int connects = 0;
  bool released = false;
  bool Connect(const plat::TPortEntry&, std::int32_t, std::uint8_t, int& error) override {
    ++connects;
    error = openError;
    return openError == 0;
  }
  bool OpenRaw(const plat::TPortEntry&, std::int32_t, int& error) override {
    error = openError;
    return openError == 0;
  }
  void Release(bool) override { released = true; }
};

struct TScriptedThread : TJobThread {
  std::vector<std::int32_t> modes;  // the commands given
  bool stopped = false;
  bool finished = false;
  bool released = false;
  std::shared_ptr<TJobView> view;
  std::shared_ptr<TJob> job;
  void SetWriteMode(std::int32_t mode) override { modes.push_back(mode); }
  void Stop() override {
    stopped = true;
    finished = true;  // the scripted thread ends at once
    released = true;
  }
  bool Started() const override { return !modes.empty(); }
  bool Finished() const override { return finished; }
  bool Released() const override { return released; }
};

struct TScriptedEngine : TJobEngine {
  std::vector<std::shared_ptr<TScriptedSession>> sessions;
  std::vector<std::shared_ptr<TScriptedThread>> threads;
  int openError = 0;
  std::shared_ptr<TJobSession> MakeSession(std::int32_t) override {
    sessions.push_back(std::make_shared<TScriptedSession>());
    sessions.back()->openError = openError;
    return sessions.back();
  }
  std::shared_ptr<TJobThread> MakeThread(std::shared_ptr<TJob> job, std::shared_ptr<TJobSession>,
                                         std::shared_ptr<TJobView> view) override {
    threads.push_back(std::make_shared<TScriptedThread>());
    threads.back()->view = std::move(view);
    threads.back()->job = std::move(job);
    return threads.back();
  }
};

// Records what the run control tells the front end; posted calls wait in a queue.
struct TRecordingFront : TRunControlFront {
  std::vector<std::string> log;
  std::vector<TJobOutcome> outcomes;
  std::deque<std::pair<int, std::function<void()>>> posted;
  bool inputs = true, buttons = true;
  void EnableControls(bool i, bool b) override {
    inputs = i;
    buttons = b;
  }
  void ClearLog() override { log.clear(); }
  void ShowProgress(const TProgressInfo& info) override {
    log.push_back(info.Status.empty() ? info.Text : info.Text + " - " + info.Status);
  }
  void JobEnded(const TJobOutcome& outcome) override { outcomes.push_back(outcome); }
  void Synchronize(const std::function<void()>& fn) override { fn(); }
  void Post(int message, std::function<void()> fn) override {
    posted.emplace_back(message, std::move(fn));
  }
  void RunCallsUntil(const std::function<bool()>& done) override {
    while (!done() && !posted.empty()) RunPosted();
  }
  void RunPosted() {
    auto call = std::move(posted.front());
    posted.pop_front();
    call.second();
  }
};

class RunControl : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = TempDir() + "/runcontrol-" + std::to_string(std::rand()) + "/";
    std::filesystem::create_directories(folder);
    file = folder + "fw.bin";
    std::ofstream(file, std::ios::binary) << "firmware";
    IsRussian = false;
    dm = std::make_unique<TDM>(folder, "test.ini");
    control = std::make_shared<TRunControl>(*dm, front, engine);
  }
  void TearDown() override {
    control->Close();
    std::filesystem::remove_all(folder);
  }
  TJobRequest Request(std::int32_t mode, TResetMethod reset) const {
    TJobRequest request;
    request.Mode = mode;
    request.Port = plat::TPortEntry{7, "COM7", "/dev/ttyS7"};
    request.Rate = 115200;
    request.Protocol = TJobProtocol::Nmea;
    request.Reset = reset;
    request.SystemFile = file;
    return request;
  }
  // Plays the session's notification: the session calls back on its thread, the run control
  // posts it as the window message, the front end runs it later.
  void Notify(std::function<void()> TJobSession::*notification, int message) {
    ASSERT_FALSE(engine->sessions.empty());
    (*engine->sessions.back().*notification)();
    ASSERT_FALSE(front.posted.empty());
    EXPECT_EQ(front.posted.back().first, message);
    front.RunPosted();
  }

  std::string folder, file;
  std::unique_ptr<TDM> dm;
  std::shared_ptr<TScriptedEngine> engine = std::make_shared<TScriptedEngine>();
  TRecordingFront front;
  std::shared_ptr<TRunControl> control;
};

TEST_F(RunControl, StartChecksRefuseInOrderAndMakeNothing) {
  struct {
    const char* name;
    std::function<void(TJobRequest&)> change;
    TJobEnd end;
    std::string message;
    TSystemFileLoad load;
  } const cases[] = {
      {"no port",
       [](TJobRequest& r) {
         r.Port = {};
         r.Rate = 0;
       },
       TJobEnd::InputMissing, "COM port value is empty!", TSystemFileLoad::Loaded},
      {"no protocol",
       [](TJobRequest& r) {
         r.Protocol = TJobProtocol::None;
         r.Rate = 0;
       },
       TJobEnd::InputMissing, "Protocol value is empty!", TSystemFileLoad::Loaded},
      {"no rate",
       [](TJobRequest& r) {
         r.Rate = 0;
         r.SystemFile.clear();
       },
       TJobEnd::InputMissing, "Baud rate value is empty!", TSystemFileLoad::Loaded},
      {"no file", [](TJobRequest& r) { r.SystemFile.clear(); }, TJobEnd::InputMissing,
       "Incorrect system file path!", TSystemFileLoad::Loaded},
      {"missing file", [](TJobRequest& r) { r.SystemFile += ".missing"; }, TJobEnd::FileRefused,
       "Error at system file reading!", TSystemFileLoad::NotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    front.outcomes.clear();
    TJobRequest request = Request(ModeProgram, TResetMethod::Auto);
    c.change(request);
    EXPECT_EQ(control->StartJob(request), TRunControl::TStart::Refused);
    ASSERT_EQ(front.outcomes.size(), 1u);
    const TJobOutcome& outcome = front.outcomes[0];
    EXPECT_EQ(outcome.End, c.end);
    EXPECT_EQ(outcome.Lines, std::vector<std::string>{c.message});
    EXPECT_EQ(outcome.FileLoad, c.load);
    EXPECT_EQ(outcome.Notice.empty(), c.end != TJobEnd::FileRefused);
  }
  EXPECT_TRUE(engine->sessions.empty() && engine->threads.empty());
  EXPECT_FALSE(control->JobRunning());
  // A versions inquiry from the command line needs no file.
  TJobRequest versions = Request(ModeVersions, TResetMethod::Manual);
  versions.SystemFile.clear();
  versions.RequireSystemFile = false;
  EXPECT_EQ(control->StartJob(versions), TRunControl::TStart::Started);
}

TEST_F(RunControl, PortNotOpenedCarriesTheReasonAndReleasesTheSession) {
  struct {
    plat::TPortEntry port;
    int openError;
    int expected;
    int connects;
  } const cases[] = {
      {{7, "COM7", "/dev/ttyS7"}, EBUSY, EBUSY, 1},
      {{0, "port", ""}, 0, ENOENT, 0},  // a name without a number is never opened
  };
  for (const auto& c : cases) {
    front.outcomes.clear();
    engine->openError = c.openError;
    TJobRequest request = Request(ModeProgram, TResetMethod::Auto);
    request.Port = c.port;
    EXPECT_EQ(control->StartJob(request), TRunControl::TStart::Refused);
    ASSERT_EQ(front.outcomes.size(), 1u);
    EXPECT_EQ(front.outcomes[0].End, TJobEnd::PortNotOpened);
    EXPECT_EQ(front.outcomes[0].OpenError, c.expected);
    EXPECT_EQ(front.outcomes[0].Lines,
              std::vector<std::string>{"Could not open " + c.port.Name + "!"});
    EXPECT_EQ(engine->sessions.back()->connects, c.connects);
    EXPECT_TRUE(engine->sessions.back()->released);
    EXPECT_TRUE(front.inputs && front.buttons);
    EXPECT_FALSE(control->JobRunning());
  }
}

// "Auto": the session looks for the receiver; its notifications arrive as window messages, and
// only the first verdict counts.
TEST_F(RunControl, AutoTakesTheFirstVerdictOfTheSession) {
  struct {
    const char* name;
    std::vector<std::pair<std::function<void()> TJobSession::*, int>> notifications;
    std::size_t threads;
    std::vector<TJobEnd> ends;
    std::string lastLine;
  } const cases[] = {
      {"connected",
       {{&TJobSession::OnConnected, WM_RECEIVER_CONNECTED}},
       1,
       {},
       "  NMEA connecting - done"},
      {"connected twice",
       {{&TJobSession::OnConnected, WM_RECEIVER_CONNECTED},
        {&TJobSession::OnConnected, WM_RECEIVER_CONNECTED}},
       1,
       {},
       "  NMEA connecting - done"},
      {"no answer",
       {{&TJobSession::OnNoAnswer, WM_RECEIVER_NO_ANSWER}},
       0,
       {TJobEnd::NoAnswer},
       "  NMEA connecting - not answer"},
      {"no answer, then connected",
       {{&TJobSession::OnNoAnswer, WM_RECEIVER_NO_ANSWER},
        {&TJobSession::OnConnected, WM_RECEIVER_CONNECTED}},
       0,
       {TJobEnd::NoAnswer},
       "  NMEA connecting - not answer"},
      {"port lost",
       {{&TJobSession::OnLost, WM_RECEIVER_LOST}},
       0,
       {TJobEnd::Stopped},
       "  NMEA connecting - Error: the port was lost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    control->Close();
    engine = std::make_shared<TScriptedEngine>();
    front = TRecordingFront();
    control = std::make_shared<TRunControl>(*dm, front, engine);
    ASSERT_EQ(control->StartJob(Request(ModeProgram, TResetMethod::Auto)),
              TRunControl::TStart::Started);
    EXPECT_FALSE(front.inputs || front.buttons);
    ASSERT_EQ(front.log.size(), 2u);
    EXPECT_EQ(front.log[0].rfind("Execution is started - ", 0), 0u);
    for (auto& [notification, message] : c.notifications) Notify(notification, message);
    EXPECT_EQ(engine->threads.size(), c.threads);
    if (c.threads > 0) {
      EXPECT_EQ(engine->threads[0]->modes, std::vector<std::int32_t>{ModeProgram});
    }
    std::vector<TJobEnd> ends;
    for (auto& outcome : front.outcomes) ends.push_back(outcome.End);
    EXPECT_EQ(ends, c.ends);
    EXPECT_EQ(front.log.back(), c.lastLine);
    EXPECT_EQ(control->JobRunning(), c.threads > 0);
    if (!c.ends.empty()) {
      EXPECT_TRUE(front.inputs && front.buttons);
    }
  }
  EXPECT_EQ(front.outcomes.back().Stop, TStopReason::PortLost);
  EXPECT_EQ(front.outcomes.back().Lines,
            std::vector<std::string>{
                "The port COM7 (/dev/ttyS7) was lost: check the cable and the adapter."});
}

// "Manual": the thread waits for the greeting at once; no session polls.
TEST_F(RunControl, ManualStartsTheThreadAtOnce) {
  ASSERT_EQ(control->StartJob(Request(ModeVersions, TResetMethod::Manual)),
            TRunControl::TStart::Started);
  EXPECT_EQ(engine->sessions[0]->connects, 0);
  ASSERT_EQ(engine->threads.size(), 1u);
  EXPECT_EQ(engine->threads[0]->modes, std::vector<std::int32_t>{ModeVersions});
  EXPECT_EQ(front.log.back(), "  Switch the receiver off and on now");
  EXPECT_TRUE(control->JobRunning());
}

// After a versions inquiry the thread is parked with its bootloader link: the next command goes
// to it; a failed inquiry lets it go.
TEST_F(RunControl, VersionsInquiryParksTheThreadForTheNextCommand) {
  ASSERT_EQ(control->StartJob(Request(ModeVersions, TResetMethod::Manual)),
            TRunControl::TStart::Started);
  auto thread = engine->threads[0];
  thread->job->WriteResult = ResultSuccess;
  thread->job->ReceiverVersions.Firmware = {"3.08", "10/12/26", ""};
  thread->view->ShowVersions(*thread->job);
  ASSERT_EQ(front.outcomes.size(), 1u);
  EXPECT_EQ(front.outcomes[0].End, TJobEnd::Success);
  EXPECT_TRUE(front.outcomes[0].Information);
  EXPECT_EQ(front.outcomes[0].Lines, std::vector<std::string>{"Firmware version: 3.08 (10/12/26)"});
  EXPECT_FALSE(thread->stopped);
  EXPECT_FALSE(front.inputs);
  EXPECT_TRUE(front.buttons);
  EXPECT_FALSE(control->JobRunning());

  EXPECT_EQ(control->StartJob(Request(ModeProgram, TResetMethod::Manual)),
            TRunControl::TStart::HandedToThread);
  EXPECT_EQ(thread->modes, (std::vector<std::int32_t>{ModeVersions, ModeProgram}));
  EXPECT_EQ(engine->threads.size(), 1u);
  EXPECT_TRUE(control->JobRunning());

  thread->job->WriteResult = ResultErase;
  thread->view->WriteFinished(*thread->job);
  ASSERT_EQ(front.outcomes.size(), 2u);
  EXPECT_EQ(front.outcomes[1].End, TJobEnd::StageFailed);
  EXPECT_EQ(front.outcomes[1].Result, ResultErase);
  EXPECT_EQ(front.outcomes[1].Stop, TStopReason::None) << "the run control's own stop is no cause";
  EXPECT_EQ(front.outcomes[1].Lines, std::vector<std::string>{"Error at flash erasing"});
  EXPECT_TRUE(thread->stopped);
  EXPECT_TRUE(front.inputs && front.buttons);
}

TEST_F(RunControl, ThreadOutcomes) {
  struct {
    const char* name;
    std::int32_t mode;
    std::int32_t result;
    TStopReason stop;
    TJobEnd end;
    std::vector<std::string> lines;
  } const cases[] = {
      {"programmed",
       ModeProgram,
       ResultSuccess,
       TStopReason::None,
       TJobEnd::Success,
       {"Execution is successfully completed", "", "Firmware version: 3.08 (10/12/26)"}},
      {"port lost",
       ModeProgram,
       ResultWrite,
       TStopReason::PortLost,
       TJobEnd::Stopped,
       {"Error at programming",
        "The port COM7 (/dev/ttyS7) was lost: check the cable and the adapter."}},
      {"stopped",
       ModeProgram,
       ResultConnect,
       TStopReason::Requested,
       TJobEnd::Stopped,
       {"Error at connecting"}},
      {"versions failed",
       ModeVersions,
       ResultConnect,
       TStopReason::None,
       TJobEnd::StageFailed,
       {"Error at connecting"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    front.outcomes.clear();
    ASSERT_EQ(control->StartJob(Request(c.mode, TResetMethod::Manual)),
              TRunControl::TStart::Started);
    auto thread = engine->threads.back();
    thread->job->WriteResult = c.result;
    thread->job->ReceiverVersions.Firmware = {"3.08", "10/12/26", ""};
    if (c.stop != TStopReason::None) thread->job->RequestStop(c.stop);
    if (c.mode == ModeVersions)
      thread->view->ShowVersions(*thread->job);
    else
      thread->view->WriteFinished(*thread->job);
    ASSERT_EQ(front.outcomes.size(), 1u);
    EXPECT_EQ(front.outcomes[0].End, c.end);
    EXPECT_EQ(front.outcomes[0].Stop, c.stop);
    EXPECT_EQ(front.outcomes[0].Lines, c.lines);
    EXPECT_TRUE(front.outcomes[0].ReachedThread);
    EXPECT_TRUE(thread->stopped) << "the thread is let go";
    EXPECT_FALSE(control->ThreadRunning());
  }
}

TEST_F(RunControl, CloseGuardAsksOnlyWhileAJobRuns) {
  int asked = 0;
  EXPECT_TRUE(control->CloseQuery([&] { return ++asked, false; }));
  EXPECT_EQ(asked, 0);
  ASSERT_EQ(control->StartJob(Request(ModeProgram, TResetMethod::Manual)),
            TRunControl::TStart::Started);
  auto thread = engine->threads[0];
  EXPECT_FALSE(control->CloseQuery([&] { return ++asked, false; }));
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(thread->stopped);
  EXPECT_TRUE(control->JobRunning());
  EXPECT_TRUE(control->CloseQuery([&] { return ++asked, true; }));
  EXPECT_TRUE(thread->stopped);
  EXPECT_FALSE(control->JobRunning());
}

// A stop while the session still looks for the receiver ends the job on the spot.
TEST_F(RunControl, StopWhilePollingEndsTheJobAndIgnoresLateNotifications) {
  ASSERT_EQ(control->StartJob(Request(ModeProgram, TResetMethod::Auto)),
            TRunControl::TStart::Started);
  auto session = engine->sessions[0];
  control->RequestStop();
  EXPECT_TRUE(session->released);
  EXPECT_EQ(front.log.back().rfind("Execution is stopped - ", 0), 0u);
  EXPECT_EQ(control->Job()->StopReason(), TStopReason::Requested);
  session->OnConnected();  // a late notification
  front.RunCallsUntil([] { return false; });
  EXPECT_TRUE(engine->threads.empty());
  EXPECT_TRUE(front.outcomes.empty());
  EXPECT_TRUE(front.inputs && front.buttons);
}

}  // namespace
