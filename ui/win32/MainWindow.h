// The main window on Windows: plain Win32 and the common controls. It creates the controls at
// the sizes of the window's layout (96 DPI, scaled by the monitor's DPI), forwards their events
// to the run control and paints what it reports. The run control's reports arrive as window
// messages: the programming thread's synchronous reports as a message it waits for, the
// session's notifications posted (WM_RECEIVER_NO_ANSWER, WM_RECEIVER_CONNECTED and the lost
// port's WM_RECEIVER_LOST).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "programmer/ProgressLog.h"
#include "programmer/RunControl.h"
#include "receiver/ProtocolScan.h"
#include "ui/model/MainModel.h"
#include "ui/win32/ControlIds.h"

class TAboutWindow;

// The window's message that runs a call of another thread and signals it (wParam: TCall*).
constexpr UINT WM_RUN_CALL = WM_APP + 1;
// A report of the diagnosis's thread, posted (lParam: the call to run).
constexpr UINT WM_SCAN_REPORT = WM_APP + 2;

class TMainWindow : public TRunControlFront {
 public:
  explicit TMainWindow(TDM& dm);
  ~TMainWindow() override;

  // Creates the window (hidden) and its controls.
  bool Create(HINSTANCE instance);
  // Runs FormShow and shows the window centred on the desktop.
  void Show(int showCommand);
  HWND Handle() const { return window_; }
  // The message loop's dialog keys (Tab, Enter) for the window.
  bool PreTranslate(MSG& message);

  // TRunControlFront
  void EnableControls(bool inputs, bool buttons) override;
  void ClearLog() override;
  void ShowProgress(const TProgressInfo& info) override;
  void SelectLastLine() override;
  void FocusLog() override;
  void FocusProgButton() override;
  void Synchronize(const std::function<void()>& fn) override;
  void Post(int message, std::function<void()> fn) override;
  void RunCallsUntil(const std::function<bool()>& done) override;
  void JobEnded(const TJobOutcome& outcome) override;

 private:
  struct TCall;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HWND AddControl(int id, const wchar_t* kind, const std::string& text, DWORD style,
                  DWORD exStyle = 0);
  void Layout();
  void Paint();
  void ApplyFonts();
  void FormShow();
  void ApplyLanguage();
  void Command(int id, int code);
  void StartJob(std::int32_t mode);
  void ResetComboChange();
  void BinFileEditChange();
  void BrowseSystemFile();
  void FillPortList();
  void SaveAsButClick();
  void ShowLogMenu(int x, int y);
  void AboutTitleButtonMouseDown();
  void DrawLogo(const DRAWITEMSTRUCT& item);
  void DrawComboItem(const DRAWITEMSTRUCT& item);
  void SetTooltip(HWND control, const std::string& text);
  std::string PortFailureReason(int error);
  std::string SavedLogText() const;
  void RunPendingCalls();
  // After "Receiver not answer!": the other protocol at the chosen rate, then the other rates,
  // in the background, each try a line of the log; a start of a job or the closing stops it.
  void StartDiagnosis();
  void StopDiagnosis();
  void DiagnosisFinished(std::optional<TScanTry> found);

  TDM& dm_;
  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
  UINT dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HBITMAP logo_ = nullptr;
  HICON aboutIcon_ = nullptr;
  std::wstring browseFolder_;
  std::shared_ptr<TRunControl> control_;
  std::optional<TJobEnd> lastEnd_;  // how the last job ended, while a start runs
  TProgressLog log_;
  std::unique_ptr<TAboutWindow> about_;
  // The window's own log reports (a port's failure reason).
  TProgressInfo ProgressInfo;
  std::unique_ptr<TProtocolScan> scan_;
  int scanGeneration_ = 0;
  DWORD uiThread_ = 0;
  bool closing_ = false;
};
