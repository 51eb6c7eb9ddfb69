// The window's model without a window: the captions, the enabling rules, the controls mapped to a
// request, what a start remembers, the close question, the saved log and its name, the
// open-failure reasons and the About window's data. A recording face and a scripted engine stand
// in for the toolkit and the receiver.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "appdata/DMU.h"
#include "appdata/FileCheck.h"
#include "appdata/MessageSink.h"
#include "platform/CrashContext.h"
#include "platform/OpenFailure.h"
#include "tests/TestSupport.h"
#include "ui/model/MainModel.h"

namespace {

struct TNoSession : TJobSession {
  int openError = 0;
  bool Connect(const plat::TPortEntry&, std::int32_t, std::uint8_t, int& error) override {
    error = openError;
    return openError == 0;
  }
  bool OpenRaw(const plat::TPortEntry&, std::int32_t, int& error) override {
    error = openError;
    return openError == 0;
  }
  void Release(bool) override {}
};

struct TParkedThread : TJobThread {
  bool started = false, stopped = false;
  std::vector<std::int32_t> commands;
  void SetWriteMode(std::int32_t mode) override {
    started = true;
    commands.push_back(mode);
  }
  void Stop() override { stopped = true; }
  bool Started() const override { return started; }
  bool Finished() const override { return stopped; }
  bool Released() const override { return stopped; }
};

struct TEngine : TJobEngine {
  int openError = 0;
  int sessions = 0;
  std::shared_ptr<TParkedThread> thread;
  std::shared_ptr<TJobSession> MakeSession(std::int32_t) override {
    ++sessions;
    auto session = std::make_shared<TNoSession>();
    session->openError = openError;
    return session;
  }
  std::shared_ptr<TJobThread> MakeThread(std::shared_ptr<TJob>, std::shared_ptr<TJobSession>,
                                         std::shared_ptr<TJobView>) override {
    thread = std::make_shared<TParkedThread>();
    return thread;
  }
};

struct TFace : TMainFace {
  TMainValues values;
  std::vector<std::string> log;
  TMainEnabling enabling{};
  std::mutex postLock;  // the diagnosis posts from its own thread
  std::deque<std::function<void()>> posted;
  TMainValues Values() const override { return values; }
  void PaintEnabling(const TMainEnabling& e) override { enabling = e; }
  void PaintResetEnabling(const TResetEnabling&) override {}
  void AddLogLine(const std::string& line) override { log.push_back(line); }
  void ReplaceLastLogLine(const std::string& line) override { log.back() = line; }
  void ClearLogLines() override { log.clear(); }
  void SelectLastLogLine() override {}
  void FocusLog() override {}
  void FocusProgButton() override {}
  void SelectRateAndProtocol(int, int) override {}
  std::function<void()> onHide;
  void HideForClosing() override {
    if (onHide) onHide();
  }
  void Synchronize(const std::function<void()>& fn) override { fn(); }
  void Post(int, std::function<void()> fn) override {
    std::lock_guard<std::mutex> hold(postLock);
    posted.push_back(std::move(fn));
  }
  void RunCallsUntil(const std::function<bool()>& done) override {
    while (!done()) {
      std::function<void()> call;
      {
        std::lock_guard<std::mutex> hold(postLock);
        if (posted.empty()) return;
        call = std::move(posted.front());
        posted.pop_front();
      }
      call();
    }
  }
};

// Records every box and answers questions as told.
struct TBoxes : TMessageSink {
  std::vector<TMessage> shown;
  TMessageAnswer answer = TMessageAnswer::No;
  TMessageAnswer Show(const TMessage& message) override {
    shown.push_back(message);
    return message.Buttons == TMessageButtons::YesNo ? answer : TMessageAnswer::Ok;
  }
};

// A system file's code with a description block naming the device (version 3.09), or none.
std::string SystemFileNaming(const char* device) {
  std::string file(300, '\x5A');
  if (device == nullptr) return file;
  std::string block(DescriptionBlockSize, '\0');
  auto put = [&block](std::size_t offset, const std::string& text) {
    block.replace(offset, text.size(), text);
  };
  put(0, DescriptionMarker);
  put(20, device);
  put(26, "3");
  put(29, "09");
  put(32, "Dec 10 2026");
  return file + block + "tail";
}

class WindowModel : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = TempDir() + "/uimodel-" + std::to_string(std::rand()) + "/";
    std::filesystem::create_directories(folder);
    file = folder + "fw.bin";
    std::ofstream(file, std::ios::binary) << SystemFileNaming(ReceiverDeviceId);
    IsRussian = false;
    Sets = TSets();
    dm = std::make_unique<TDM>(folder, "test.ini");
    dm->LoadSettings();  // the file the settings are saved into
    model = std::make_unique<TMainModel>(*dm, face, engine);
    SetMessageSink(&boxes);
  }
  void TearDown() override {
    model.reset();
    SetMessageSink(nullptr);
    IsRussian = false;
    Sets = TSets();
    std::filesystem::remove_all(folder);
  }
  std::string Settings() const {
    std::ifstream in(folder + "test.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string folder, file;
  std::unique_ptr<TDM> dm;
  std::shared_ptr<TEngine> engine = std::make_shared<TEngine>();
  TFace face;
  TBoxes boxes;
  std::unique_ptr<TMainModel> model;
};

TEST(WindowModelTables, CaptionsPerLanguage) {
  const TMainCaptions& english = MainCaptions(false);
  const TMainCaptions& russian = MainCaptions(true);
  EXPECT_STREQ(english.Port, "COM port");
  EXPECT_STREQ(english.ResetManual, "Manual");
  EXPECT_STREQ(english.Versions, "Versions Info");
  EXPECT_STREQ(russian.Port, "COM порт");
  EXPECT_STREQ(russian.ResetAuto, "Программный");
  EXPECT_STREQ(russian.ResetManual, "Аппаратный");
  EXPECT_STREQ(russian.Program, "Запрограммировать");
  EXPECT_STREQ(russian.Versions, "Запрос версий");
  EXPECT_STREQ(LogoResource(false), "LogoEng");
  EXPECT_STREQ(LogoResource(true), "LogoRus");
  EXPECT_STREQ(AboutCaptions(true).Title, "О программе");
  EXPECT_STREQ(english.About, "About");  // the About button's tooltip
  EXPECT_STREQ(russian.About, "О программе");
  EXPECT_STREQ(AboutCaptions(false).Version, "Version:");
}

TEST(WindowModelTables, EnablingRules) {
  struct {
    bool inputs, buttons;
    int reset;
    bool rate;
  } const cases[] = {
      {true, true, 0, true},    {true, true, 1, false},  {true, true, -1, false},
      {false, false, 0, false}, {false, true, 0, false}, {true, false, 0, true},
  };
  for (const auto& c : cases) {
    const TMainEnabling e = EnablingFor(c.inputs, c.buttons, c.reset);
    EXPECT_EQ(e.Port && e.Reset && e.SystemFile && e.Browse, c.inputs);
    EXPECT_EQ(e.Port || e.Reset || e.SystemFile || e.Browse, c.inputs);
    EXPECT_EQ(e.Program, c.buttons);
    EXPECT_EQ(e.Versions, c.buttons);
    EXPECT_EQ(e.Rate, c.rate);
    EXPECT_EQ(e.Protocol, c.rate);
  }
  for (int reset : {-1, 0, 1}) {
    const TResetEnabling e = ResetEnablingFor(reset);
    EXPECT_EQ(e.Rate && e.RateLabel && e.Protocol && e.ProtocolLabel, reset == 0);
    EXPECT_EQ(e.Rate || e.RateLabel || e.Protocol || e.ProtocolLabel, reset == 0);
  }
}

TEST(WindowModelTables, ControlsMapToTheRequest) {
  struct {
    TMainValues values;
    std::int32_t rate;
    TJobProtocol protocol;
    TResetMethod reset;
    int portNumber;
  } const cases[] = {
      {{"COM7", 0, 5, 0, "a.bin"}, 115200, TJobProtocol::Zorp, TResetMethod::Auto, 7},
      {{"COM12", 1, 0, 1, ""}, 4800, TJobProtocol::Nmea, TResetMethod::Manual, 12},
      {{"", -1, -1, -1, ""}, 0, TJobProtocol::None, TResetMethod::Manual, 0},
      {{"COM3", 0, 6, 7, ""}, 230400, TJobProtocol::None, TResetMethod::Auto, 3},
      {{"COM3", 0, 7, 0, ""}, 0, TJobProtocol::Zorp, TResetMethod::Auto, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values.Port);
    const TJobRequest request = TMainModel::RequestFor(ModeProgram, c.values);
    EXPECT_EQ(request.Mode, ModeProgram);
    EXPECT_EQ(request.Port.Name, c.values.Port);
    EXPECT_EQ(request.Port.Number, c.portNumber);
    EXPECT_EQ(request.Rate, c.rate);
    EXPECT_EQ(request.Protocol, c.protocol);
    EXPECT_EQ(request.Reset, c.reset);
    EXPECT_EQ(request.SystemFile, c.values.SystemFile);
    EXPECT_TRUE(request.RequireSystemFile);
  }
}

TEST(WindowModelTables, LogNames) {
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = 11;
  local.tm_mday = 10;
  local.tm_hour = 14;
  local.tm_min = 36;
  local.tm_sec = 5;
  EXPECT_EQ(ProposedLogName(local), "log-2026-12-10_14-36-05.txt");
  struct {
    const char* typed;
    const char* saved;
  } const names[] = {{"/tmp/run", "/tmp/run.txt"},
                     {"/tmp/run.txt", "/tmp/run.txt"},
                     {"/tmp/run.log", "/tmp/run.log"},
                     {"/tmp/v1.2/run", "/tmp/v1.2/run.txt"}};
  for (auto& n : names) EXPECT_EQ(WithLogExtension(n.typed), n.saved);
}

// One table of reasons: the window's sentence in both languages and the command line's line.
TEST(WindowModelTables, OpenFailureReasons) {
  struct {
    int error;
    plat::TOpenFailure kind;
    const char* english;  // the window's sentence starts so
    const char* russian;
  } const cases[] = {
      {EBUSY, plat::TOpenFailure::Busy, "The port is in use by another program",
       "Порт занят другой программой"},
      {ENOENT, plat::TOpenFailure::Missing, "The port does not exist", "Порт не найден"},
      {ENXIO, plat::TOpenFailure::Missing, "The port does not exist", "Порт не найден"},
#ifndef _WIN32
      {EACCES, plat::TOpenFailure::Permission, "No permission to use the port", "Нет прав на порт"},
#endif
      {ENOTTY, plat::TOpenFailure::NotSerial,
       "The port cannot be opened: ", "Порт не открывается: "},
      {EIO, plat::TOpenFailure::Other, "The port cannot be opened: ", "Порт не открывается: "},
      {0, plat::TOpenFailure::None, "The port cannot be opened: ", "Порт не открывается: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(plat::OpenFailureKind(c.error), c.kind);
    EXPECT_EQ(plat::OpenFailureWindowReason(c.error, false).rfind(c.english, 0), 0u);
    EXPECT_EQ(plat::OpenFailureWindowReason(c.error, true).rfind(c.russian, 0), 0u);
    EXPECT_EQ(plat::OpenFailureReason(c.error).empty(), c.error == 0);
  }
  EXPECT_EQ(plat::OpenFailureReason(EBUSY),
            "the port is in use by another program: close that program and try again");
}

TEST_F(WindowModel, InitialValuesComeFromTheSettings) {
  Sets.ComRate = "9600";
  Sets.Protocol = "ZORP";
  Sets.ResetType = 0;
  Sets.SystemFile = folder + "fw.bin";
  Sets.ComPort = "COM99";  // no such port here
  TInitialValues initial = model->InitialValues();
  EXPECT_EQ(initial.Values.Rate, 1);
  EXPECT_EQ(initial.Values.Protocol, 0);
  EXPECT_EQ(initial.Values.Reset, 0);
  EXPECT_EQ(initial.Values.SystemFile, folder + "fw.bin");
  EXPECT_TRUE(initial.Ports.empty());
  EXPECT_EQ(initial.BrowseFolder + "/", folder);
  Sets.ComRate = "1234";
  Sets.Protocol = "nmea";
  Sets.ResetType = 5;
  initial = model->InitialValues();
  EXPECT_EQ(initial.Values.Rate, -1);
  EXPECT_EQ(initial.Values.Protocol, -1);
  EXPECT_EQ(initial.Values.Reset, -1);
  const std::vector<TPortItem> items = {{"COM1", ""}, {"COM99", ""}, {"COM3", ""}};
  EXPECT_EQ(model->ChosenPort(items, "COM3"), 2);
  EXPECT_EQ(model->ChosenPort(items, "COM5"), 1) << "else the saved port";
  EXPECT_EQ(model->ChosenPort(items, ""), 1);
  EXPECT_EQ(model->ChosenPort({{"COM1", ""}}, "COM5"), -1);
}

// A start remembers the inputs once its checks passed, the port's failure too; a refused file
// stays in memory only.
TEST_F(WindowModel, StartRemembersTheInputs) {
  struct {
    const char* name;
    TMainValues values;
    int openError;
    bool saved;
    std::string file;  // Sets.SystemFile afterwards
  } const cases[] = {
      {"no port", {"", 0, 5, 1, "fw.bin"}, 0, false, ""},
      {"file refused", {"COM7", 0, 5, 1, "missing.bin"}, 0, false, "missing.bin"},
      {"port not opened", {"COM7", 0, 5, 1, "fw.bin"}, EBUSY, true, "fw.bin"},
      {"started", {"COM8", 1, 2, 0, "fw.bin"}, 0, true, "fw.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    model->Close();
    Sets = TSets();
    std::ofstream(folder + "test.ini", std::ios::binary | std::ios::trunc);
    engine->openError = c.openError;
    face.values = c.values;
    face.values.SystemFile = c.values.SystemFile.empty() ? "" : folder + c.values.SystemFile;
    model->Start(ModeProgram);
    EXPECT_EQ(Settings().find("ComPort=" + c.values.Port + "\r\n") != std::string::npos, c.saved);
    EXPECT_EQ(Sets.SystemFile, c.file.empty() ? "" : folder + c.file);
    if (c.saved) {
      EXPECT_EQ(Sets.ComPort, c.values.Port);
    }
  }
  EXPECT_EQ(Sets.ComRate, "19200");
  EXPECT_EQ(Sets.Protocol, "ZORP");
  EXPECT_EQ(Sets.ResetType, 1);
}

// "Programming" judges the file before anything starts, as the command line does: a block for
// this receiver starts as before, without a question; no block asks (No by default) and starts
// only on Yes, recorded as forced; another device is refused with a message. "Versions Info"
// writes nothing and asks nothing.
TEST_F(WindowModel, ProgrammingJudgesTheSystemFile) {
  using A = TMessageAnswer;
  using S = TRunControl::TStart;
  struct {
    const char* name;
    const char* device;  // the block's device, none: no block
    std::int32_t mode;
    bool russian;
    A answer;
    S start;
    const char* box;  // the start of the box's text, none: no box
    bool question;
  } const cases[] = {
      {"valid block", ReceiverDeviceId, ModeProgram, false, A::No, S::Started, nullptr, false},
      {"no block, No", nullptr, ModeProgram, false, A::No, S::Refused, "The file \"", true},
      {"no block, Yes", nullptr, ModeProgram, false, A::Yes, S::Started, "The file \"", true},
      {"no block, Russian", nullptr, ModeProgram, true, A::No, S::Refused, "В файле \"", true},
      {"another device", "QX4400", ModeProgram, false, A::Yes, S::Refused, "The file \"", false},
      {"another device, Russian", "QX4400", ModeProgram, true, A::Yes, S::Refused, "Файл \"",
       false},
      {"versions, no block", nullptr, ModeVersions, false, A::No, S::Started, nullptr, false},
      {"versions, another device", "QX4400", ModeVersions, false, A::No, S::Started, nullptr,
       false},
  };
  std::optional<TJobRequest> starting;
  model->OnJobStarting = [&starting](const TJobRequest& request) { starting = request; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    model->Close();
    IsRussian = c.russian;
    boxes.shown.clear();
    boxes.answer = c.answer;
    starting.reset();
    engine->sessions = 0;
    const std::string path = folder + "judged.bin";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << SystemFileNaming(c.device);
    face.values = {"COM7", 1, 5, 1, path};
    face.log = {"the last job's line"};
    EXPECT_EQ(model->Start(c.mode), c.start);
    const bool started = c.start == S::Started;
    EXPECT_EQ(engine->sessions, started ? 1 : 0) << "a refused file opens no port";
    EXPECT_EQ(starting.has_value(), started);
    if (started) {
      EXPECT_EQ(starting->Forced, c.answer == A::Yes && c.box != nullptr);
      EXPECT_EQ(face.log.size(), 2u) << "the start and the power-cycle lines, as ever";
    } else {
      EXPECT_EQ(face.log, std::vector<std::string>{"the last job's line"}) << "the log stays";
    }
    if (c.box == nullptr) {
      EXPECT_TRUE(boxes.shown.empty());
      continue;
    }
    ASSERT_EQ(boxes.shown.size(), 1u);
    const TMessage& box = boxes.shown[0];
    EXPECT_EQ(box.Text.rfind(c.box + path + "\"", 0), 0u) << box.Text;
    if (c.question) {
      EXPECT_EQ(box.Buttons, TMessageButtons::YesNo);
      EXPECT_EQ(box.Default, TMessageAnswer::No);
    } else {
      EXPECT_EQ(box.Buttons, TMessageButtons::Ok);
      EXPECT_NE(box.Text.find("QX4400"), std::string::npos);
    }
  }
}

// After a versions inquiry the parked thread would write the file that inquiry loaded: it is
// judged too, and declining ends the inquiry so that another file can be chosen.
TEST_F(WindowModel, ParkedInquiryJudgesItsFile) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << SystemFileNaming(nullptr);
  face.values = {"COM7", 1, 5, 1, file};
  ASSERT_EQ(model->Start(ModeVersions), TRunControl::TStart::Started);
  ASSERT_TRUE(boxes.shown.empty());
  // The file on disk is replaced meanwhile: what counts is what the job holds.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << SystemFileNaming(ReceiverDeviceId);
  boxes.answer = TMessageAnswer::No;
  EXPECT_EQ(model->Start(ModeProgram), TRunControl::TStart::Refused);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].Buttons, TMessageButtons::YesNo);
  EXPECT_EQ(engine->thread->commands, std::vector<std::int32_t>{ModeVersions});
  EXPECT_TRUE(engine->thread->stopped);
  EXPECT_TRUE(face.enabling.Port && face.enabling.SystemFile && face.enabling.Program);
}

TEST_F(WindowModel, PortFailureShowsTheReasonInTheBoxAndTheLog) {
  for (bool russian : {false, true}) {
    IsRussian = russian;
    boxes.shown.clear();
    engine->openError = EBUSY;
    face.values = {"COM7", 0, 5, 1, file};
    model->Start(ModeProgram);
    const std::string reason = plat::OpenFailureWindowReason(EBUSY, russian);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].Text,
              std::string(russian ? "Ошибка открытия" : "Could not open") + " COM7!\r" + reason);
    EXPECT_EQ(face.log, std::vector<std::string>{"COM7: " + reason});
    EXPECT_EQ(model->LogLines(), face.log);
  }
}

// A diagnosis that finds nothing ends with a box, not only a log line; a port that would not
// open says why.
TEST_F(WindowModel, DiagnosisThatFindsNothingSaysSo) {
  for (bool russian : {false, true}) {
    IsRussian = russian;
    boxes.shown.clear();
    face.values = {"COM97", 0, 5, 1, file};  // no such port: every try fails at once
    ASSERT_EQ(model->Start(ModeVersions), TRunControl::TStart::Started);
    model->StartDiagnosis();
    for (int i = 0; i < 500 && boxes.shown.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      face.RunCallsUntil([] { return false; });
    }
    ASSERT_EQ(boxes.shown.size(), 1u);
    const std::string reason = plat::OpenFailureWindowReason(ENOENT, russian);
    EXPECT_EQ(boxes.shown[0].Text,
              std::string(russian ? "Приемник не отвечает ни на одном протоколе и скорости.\r"
                                    "Проверьте кабель, порт и питание приемника."
                                  : "The receiver answers at no protocol and bit rate.\rCheck "
                                    "the cable, the port and the receiver's power.") +
                  "\rCOM97: " + reason);
    EXPECT_EQ(boxes.shown[0].Buttons, TMessageButtons::Ok);
    EXPECT_EQ(face.log.back(), "COM97: " + reason);
    EXPECT_FALSE(model->DiagnosisRunning());
    model->Close();
  }
  IsRussian = false;
  EXPECT_EQ(DiagnosisNothingFoundText(""),
            "The receiver answers at no protocol and bit rate.\rCheck the cable, the port and "
            "the receiver's power.")
      << "tries that went unanswered: no port line";
}

TEST_F(WindowModel, CloseQuestionWhileAJobRuns) {
  // The window hides as soon as closing goes on, before the job is stopped.
  int hidden = 0;
  bool stoppedWhenHidden = false;
  face.onHide = [&] {
    ++hidden;
    stoppedWhenHidden = engine->thread && engine->thread->stopped;
  };
  EXPECT_TRUE(model->CloseQuery());
  EXPECT_EQ(hidden, 1) << "nothing runs: no question";
  EXPECT_TRUE(boxes.shown.empty());
  face.values = {"COM7", 1, 5, 1, file};
  ASSERT_EQ(model->Start(ModeProgram), TRunControl::TStart::Started);
  for (bool russian : {false, true}) {
    IsRussian = russian;
    boxes.answer = TMessageAnswer::No;
    EXPECT_FALSE(model->CloseQuery());
    EXPECT_EQ(boxes.shown.back().Buttons, TMessageButtons::YesNo);
    EXPECT_EQ(boxes.shown.back().Default, TMessageAnswer::No);
    EXPECT_EQ(boxes.shown.back().Text.rfind(
                  russian ? "Выполняется программирование!" : "Execution in process!", 0),
              0u);
    EXPECT_FALSE(engine->thread->stopped);
  }
  EXPECT_EQ(hidden, 1) << "\"No\": the window stays";
  boxes.answer = TMessageAnswer::Yes;
  EXPECT_TRUE(model->CloseQuery());
  EXPECT_TRUE(engine->thread->stopped);
  EXPECT_EQ(hidden, 2);
  EXPECT_FALSE(stoppedWhenHidden);
}

// What a crash report would say of the window's job: its port from the start, its stage and the
// log's lines as they change, until the job is gone (its thread ended, or the window closed).
TEST_F(WindowModel, CrashContextFollowsTheJob) {
  auto jobs = [] {
    std::vector<std::string> found;
    for (const plat::crash::TSlot& slot : plat::crash::Context().Slots)
      if (slot.Used.load()) found.push_back(std::string(slot.Port) + ": " + slot.Stage);
    return found;
  };
  auto lastLine = [] {
    const plat::crash::TContext& c = plat::crash::Context();
    const unsigned n = c.LineCount.load();
    return n == 0 ? std::string() : std::string(c.Lines[(n - 1) % plat::crash::MaxLines]);
  };
  // The port does not open: the job ends at once, its reason is the last line of the report.
  engine->openError = EBUSY;
  face.values = {"COM7", 0, 5, 1, file};
  model->Start(ModeProgram);
  EXPECT_TRUE(jobs().empty());
  EXPECT_EQ(lastLine(), "COM7: " + plat::OpenFailureWindowReason(EBUSY, false));

  // A manual reset: the thread waits for the receiver; the job, its port and stage stay.
  engine->openError = 0;
  face.values = {"COM8", 1, 5, 1, file};
  ASSERT_EQ(model->Start(ModeProgram), TRunControl::TStart::Started);
  ASSERT_FALSE(face.log.empty());
  EXPECT_EQ(jobs(), std::vector<std::string>{"COM8: " + face.log.back()});
  EXPECT_EQ(lastLine(), face.log.back());
  model->Close();
  EXPECT_TRUE(jobs().empty());
}

// At the start after a crash the window tells where the report is, once per report, in the
// language of the run.
TEST_F(WindowModel, CrashReportNoticeOncePerReport) {
  const std::string crashes = folder + "crash/";
  std::filesystem::create_directories(crashes);
  ShowCrashReportNotice(crashes);
  EXPECT_TRUE(boxes.shown.empty()) << "no report, no notice";

  const std::string first = crashes + "ZV8810_FWU-crash-20261211-101010-42.txt";
  std::ofstream(first) << "report";
  struct {
    bool russian;
    const char* opening;
  } const languages[] = {
      {false, "The updater ended unexpectedly and wrote a crash report:\r"},
      {true, "Программа обновления завершилась аварийно и записала отчёт о сбое:\r"}};
  for (const auto& l : languages) {
    IsRussian = l.russian;
    const std::optional<TMessage> notice = CrashReportNotice(crashes);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->Text.rfind(l.opening, 0), 0u) << notice->Text;
    EXPECT_NE(notice->Text.find("\r" + first + "\r"), std::string::npos) << notice->Text;
  }
  IsRussian = false;
  ShowCrashReportNotice(crashes);
  ShowCrashReportNotice(crashes);
  ASSERT_EQ(boxes.shown.size(), 1u) << "shown once, then seen";
  EXPECT_EQ(boxes.shown[0].Icon, TMessageIcon::Warning);

  // A later crash: its report, the newest, is told of.
  const std::string second = crashes + "ZV8810_FWU-crash-20261211-101011-7.txt";
  std::ofstream(second) << "report";
  ShowCrashReportNotice(crashes);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_NE(boxes.shown[1].Text.find(second), std::string::npos);
  EXPECT_FALSE(CrashReportNotice(crashes));
}

// "Save As...": the settings of the start, the program's version and the log, CR LF after each
// line, in Windows-1251.
TEST_F(WindowModel, SavedLogText) {
  EXPECT_EQ(model->SavedLogText(), "") << "nothing to save";
  IsRussian = true;
  face.values = {"COM7", 0, 5, 0, file};
  ASSERT_EQ(model->Start(ModeProgram), TRunControl::TStart::Started);
  const std::string text = model->SavedLogText();
  const std::string header =
      "Com port = COM7\r\nReset = auto\r\nBaud rate = 115200\r\nProtocol = ZORP\r\nFile = "
      "fw.bin\r\nFWU ver = ";
  EXPECT_EQ(text.substr(0, header.size()), header);
  // "  Подключение по протоколу ZORP" in Windows-1251.
  EXPECT_NE(text.find("\r\n  \xCF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xE8\xE5 \xEF\xEE "
                      "\xEF\xF0\xEE\xF2\xEE\xEA\xEE\xEB\xF3 ZORP\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  ASSERT_TRUE(model->SaveLogTo(folder + "log.txt"));
  std::ifstream in(folder + "log.txt", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            text);
  EXPECT_FALSE(model->SaveLogTo(folder + "no/such/folder/log.txt"));
}

TEST_F(WindowModel, AboutDataAndLanguage) {
  Sets.Lang = 1;
  EXPECT_EQ(AboutData().Language, 1);
  Sets.Lang = 4;
  EXPECT_EQ(AboutData().Language, -1);
  SaveLanguage(*dm, -1);
  EXPECT_EQ(Sets.Lang, 4) << "no choice, nothing saved";
  SaveLanguage(*dm, 0);
  EXPECT_EQ(Sets.Lang, 0);
  EXPECT_NE(Settings().find("Lang=0"), std::string::npos);
}

}  // namespace
