// The main window's model: everything the window knows and decides that is not about a toolkit.
// A face (ui/qt/ with Qt, ui/win32/ with the Windows API) creates the controls, lays them out,
// forwards the operator's events to the model and paints what the model tells it through
// TMainFace. The model links no toolkit; tests drive it with a recording face.
//
// How a face uses it:
//   construction   TMainModel model(dm, face);  (the face lives as long as the model)
//   window shown   model.Captions() for every text, model.LogoResource() for the logo,
//                  model.InitialValues() into the controls, then model.ResetChanged(reset) for the
//                  rate and protocol enabling; the file field's tooltip is
//                  model.FileTooltip(path) (and again on every change of the field's text)
//   port box       entered: model.PortItems() fills it (name and tooltip per item), and
//                  model.ChosenPort(items, shownText) says which item to select
//   reset box      changed: model.ResetChanged(index) -> face.PaintResetEnabling(...)
//   buttons        model.Start(ModeProgram) / model.Start(ModeVersions): the model reads the
//                  controls through face.Values(), saves the settings and starts the job
//   the run        the model is the run control's front: log lines arrive as face.AddLogLine /
//                  ReplaceLastLogLine / ClearLogLines, enabling as face.PaintEnabling, messages
//                  as message boxes (appdata/MessageSink.h); the session's notifications and
//                  the diagnosis's reports come through face.Post, which must run the call on the
//                  UI thread later (a posted message), and the thread's reports through
//                  face.Synchronize (a blocking call onto the UI thread)
//   "Save As..."   model.SavedLogText() (empty: nothing to save), model.ProposedLogName(now),
//                  WithLogExtension(typed), model.SaveLogTo(path) (false: show
//                  model.SaveFailedText(path))
//   closing        model.CloseQuery() (false: stay open), then model.Close()
//   program start  the program installs the crash handler (platform/CrashReport.h) before the
//                  window is made; once the window shows, ShowCrashReportNotice() tells of a
//                  report the last run left. The model feeds the crash report the job's port and
//                  stage and the log's lines.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "programmer/ProgressLog.h"
#include "programmer/ResidentCheck.h"
#include "programmer/RunControl.h"
#include "receiver/ProtocolScan.h"

// The items of the protocol box, in order (the index is what TMainValues::Protocol holds).
inline constexpr const char* ProtocolItems[] = {"ZORP", "NMEA"};
// The rate box's items are OfferedRates (appdata/DMU.h), in order.

// The window's texts in one language.
struct TMainCaptions {
  const char* Title;  // the window's title
  const char* Port;   // the labels
  const char* Reset;
  const char* Rate;
  const char* Protocol;
  const char* SystemFile;
  const char* ResetAuto;  // the reset box's two items
  const char* ResetManual;
  const char* Program;  // the two buttons
  const char* Versions;
  const char* WaitPort;  // the panel over the port box while the ports are read
  const char* SaveAs;    // the log's context menu
  const char* About;     // the About button's tooltip
  const char* Browse;    // the browse button's text
};
const TMainCaptions& MainCaptions(bool russian);
// The logo bitmap's resource name (type "BITMAP") for the language.
const char* LogoResource(bool russian);

// What the controls hold, as a face reads them from its widgets.
struct TMainValues {
  std::string Port;   // the port box's text; empty: none chosen
  int Reset = -1;     // the reset box: 0 Auto, 1 Manual, -1 none
  int Rate = -1;      // index into OfferedRates, -1 none
  int Protocol = -1;  // index into ProtocolItems, -1 none
  std::string SystemFile;
};

// Which controls are enabled.
struct TMainEnabling {
  bool Port, Reset, SystemFile, Browse, Program, Versions, Rate, Protocol;
};
// The run control's rule: inputs and buttons, with rate and protocol only for "Auto".
TMainEnabling EnablingFor(bool inputs, bool buttons, int reset);
// The reset box's rule: rate and protocol (boxes and labels) only for "Auto".
struct TResetEnabling {
  bool Rate, RateLabel, Protocol, ProtocolLabel;
};
TResetEnabling ResetEnablingFor(int reset);

// A port box item: the COM name and the device behind it ("/dev/ttyUSB0", or
// "/dev/serial/by-id/x → /dev/ttyUSB0" when the device is a link) as its tooltip.
struct TPortItem {
  std::string Name;
  std::string Tooltip;  // empty: none
};

// The values the controls get when the window is shown, from the settings.
struct TInitialValues {
  TMainValues Values;
  std::vector<TPortItem> Ports;  // the saved port when it still exists, else none
  std::string BrowseFolder;      // where the browse dialog opens
};

// The log's file name that "Save As..." proposes for the local time: "log-2026-12-10_14-36-05.txt".
std::string ProposedLogName(const std::tm& local);
// A name typed without an extension gets ".txt".
std::string WithLogExtension(const std::string& path);

// The face's side. Calls come on the UI thread unless said otherwise.
class TMainFace {
 public:
  virtual ~TMainFace() = default;
  virtual TMainValues Values() const = 0;
  virtual void PaintEnabling(const TMainEnabling& enabling) = 0;
  virtual void PaintResetEnabling(const TResetEnabling& enabling) = 0;
  // The log list: a new last line, the last line replaced, or emptied. The face keeps the last
  // line selected and in view.
  virtual void AddLogLine(const std::string& line) = 0;
  virtual void ReplaceLastLogLine(const std::string& line) = 0;
  virtual void ClearLogLines() = 0;
  virtual void SelectLastLogLine() = 0;
  virtual void FocusLog() = 0;
  virtual void FocusProgButton() = 0;
  // The diagnosis found the receiver and the operator took its settings: select these items.
  virtual void SelectRateAndProtocol(int rate, int protocol) = 0;
  // As TRunControlFront: from any thread, fn on the UI thread and wait; queue fn for the UI
  // thread as the given window message; on the UI thread, run queued calls until done().
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  virtual void Post(int message, std::function<void()> fn) = 0;
  virtual void RunCallsUntil(const std::function<bool()>& done) = 0;
  // Closing goes on (nothing ran, or the operator answered "Yes" to the close question): the
  // window leaves the screen at once, before the job's last steps, which finish behind it.
  virtual void HideForClosing() {}
};

// What a crash report tells of the window (platform/CrashReport.h): the job's port and stage, and
// the log's last lines. The model feeds it; each call is also where the tests-only crash switch
// (ZV8810_TEST_CRASH) strikes: "main" on the UI thread at a log line, "thread" on the
// programming thread at its call onto the UI thread.
class TWindowCrashFeed {
 public:
  TWindowCrashFeed() = default;
  TWindowCrashFeed(const TWindowCrashFeed&) = delete;
  TWindowCrashFeed& operator=(const TWindowCrashFeed&) = delete;
  ~TWindowCrashFeed() { JobGone(); }
  // A start is about to be handed to the run control: the job's port (the one before is gone).
  void JobStarting(const TJobRequest& request);
  // The log's last line was added or replaced (UI thread); it is also the job's stage.
  void LogChanged(const std::string& line, bool replaced);
  // The job ended; threadKeepsPort: its programming thread still holds the port, and may still
  // run the resident (a versions inquiry parks it), so the job stays in the report.
  void JobEnded(bool threadKeepsPort);
  // The window closes: no job is left.
  void JobGone();
  // The programming thread calls onto the UI thread (from that thread).
  static void ThreadCall();

 private:
  int slot_ = -1;
};

// The notice of the newest crash report in folder that no window has shown yet, in the language
// of the run; none when there is no such report.
std::optional<TMessage> CrashReportNotice(const std::string& folder);
// At the window's start, once it shows: the notice as a message box, then the report counts as
// seen (the next start says nothing of it). folder: where the crash handler writes reports.
void ShowCrashReportNotice(const std::string& folder);
void ShowCrashReportNotice();  // in plat::CrashReportFolder()

// The window message of the diagnosis's reports (beside the run control's WM_RECEIVER_...).
constexpr int WM_DIAGNOSIS_REPORT = 0xA43;

class TMainModel : private TRunControlFront {
 public:
  TMainModel(TDM& dm, TMainFace& face, std::shared_ptr<TJobEngine> engine = ReceiverEngine());
  ~TMainModel() override;  // stops the diagnosis and closes the run control

  const TMainCaptions& Captions() const;
  const char* LogoResource() const;
  TInitialValues InitialValues() const;
  void ResetChanged(int reset);
  // The description of the system file for the field's tooltip (lines end with "\n").
  std::string FileTooltip(const std::string& path) const;

  // The machine's ports with their tooltips, and the item to select: the one shown when it is
  // still there, else the saved port, else none (-1).
  std::vector<TPortItem> PortItems() const;
  int ChosenPort(const std::vector<TPortItem>& items, const std::string& shown) const;

  // The control values as a job request (the port resolved once).
  static TJobRequest RequestFor(std::int32_t mode, const TMainValues& values);
  // Writes the request's inputs into the settings (and the file) when they changed.
  static void RememberInputs(TDM& dm, const TJobRequest& request);
  // A button: the diagnosis stops (the job needs the port), "Programming" has the system file
  // judged (SystemFileAccepted), the settings remember the inputs and the job starts.
  TRunControl::TStart Start(std::int32_t mode);
  // The close guard: asks while a job runs ("Stop execution?"); true when closing may go on, and
  // then the face was told to hide before the job was stopped.
  bool CloseQuery();
  // The window closes: the diagnosis and the job stop, no report reaches the face afterwards.
  void Close();

  bool JobRunning() const { return control_->JobRunning(); }
  TRunControl& RunControl() { return *control_; }
  const std::vector<std::string>& LogLines() const { return log_.Lines(); }

  // "Save As...": the header (the settings of the last start, the program's version) and the
  // log, CR LF after each line, in Windows-1251; empty when the log is empty.
  std::string SavedLogText() const;
  bool SaveLogTo(const std::string& path) const;
  std::string SaveFailedText(const std::string& path) const;

  // The search for the protocol and bit rate the receiver answers at (after "Receiver not
  // answer!", on the port, protocol and rate of that job); when nothing answers, the look for a
  // resident left running at 115200 bit/s, which the operator may have restarted. A start or
  // closing stops it.
  void StartDiagnosis();
  void StopDiagnosis();
  bool DiagnosisRunning() const;

  // Told before each start is handed to the run control, and after each job's end (a refused
  // start too) once its message was shown: the window's job history listens here.
  std::function<void(const TJobRequest&)> OnJobStarting;
  std::function<void(const TJobOutcome&)> OnJobEnded;

  // TRunControlFront, public for faces that call it directly (a test, EnableControls).
  void EnableControls(bool inputs, bool buttons) override;

 private:
  void ClearLog() override;
  void ShowProgress(const TProgressInfo& info) override;
  void SelectLastLine() override { face_.SelectLastLogLine(); }
  void FocusLog() override { face_.FocusLog(); }
  void FocusProgButton() override { face_.FocusProgButton(); }
  void JobEnded(const TJobOutcome& outcome) override;
  void Synchronize(const std::function<void()>& fn) override {
    TWindowCrashFeed::ThreadCall();
    face_.Synchronize(fn);
  }
  void Post(int message, std::function<void()> fn) override { face_.Post(message, std::move(fn)); }
  void RunCallsUntil(const std::function<bool()>& done) override { face_.RunCallsUntil(done); }

  void DiagnosisFinished(std::optional<TScanTry> found);
  void TellNothingFound(const std::string& openFailure);
  // A memory read through a resident left running, on a thread of its own (about two seconds);
  // with restart, the resident is sent its restart command when it answers.
  void CheckResident(bool restart);
  void ResidentChecked(TResidentProbe probe, int error, bool restart);
  void JoinResidentCheck();
  // Before "Programming": the file the job would write is judged as the command line judges it.
  // A file for another device is refused with a message; a file without a description block
  // is written only when the operator answers Yes (request.Forced). False: nothing starts, and
  // a parked versions inquiry ends, so that another file can be chosen. A new start's images are
  // loaded here once and handed on in the request (the bytes judged are the bytes written).
  bool SystemFileAccepted(TJobRequest& request);

  TWindowCrashFeed crash_;
  TDM& dm_;
  TMainFace& face_;
  std::shared_ptr<::TRunControl> control_;
  TProgressLog log_;
  std::unique_ptr<TProtocolScan> scan_;
  std::thread residentCheck_;
  std::shared_ptr<TJob> residentStop_;  // its stop request
  int scanGeneration_ = 0;
  std::optional<TJobEnd> lastEnd_;  // how the last job ended, while a start runs
  // The window's own log reports (the diagnosis, a port's failure reason).
  TProgressInfo ProgressInfo;
};

// The box at the end of a diagnosis that found nothing: what to check, and why the port could
// not be opened when that ended it ("COM7: The port does not exist: ...", empty otherwise).
std::string DiagnosisNothingFoundText(const std::string& openFailure);

// The close question while a job runs ("Stop execution?"): true when the operator answers Yes.
bool ConfirmStopOnClose();

// The About window's model.
struct TAboutCaptions {
  const char* Title;
  const char* Version;
  const char* Language;
  const char* Ok;
};
const TAboutCaptions& AboutCaptions(bool russian);
// The language box's items: index 0 English, 1 Russian (Sets.Lang).
inline constexpr const char* LanguageItems[] = {"Eng", "Rus"};

struct TAboutData {
  std::string Name;        // the program's internal name, empty without a version block
  std::string Version;     // "2.3 (build 0.1)", empty without a version block
  std::string WebAddress;  // the maker's web address
  int Language = 0;        // the language box's item, -1 none
};
TAboutData AboutData();
// The operator chose a language (an index into LanguageItems): it is saved and takes effect at
// the next start.
void SaveLanguage(TDM& dm, int language);
