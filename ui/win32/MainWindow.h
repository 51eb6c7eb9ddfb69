// The main window on Windows: plain Win32 and the common controls, a face over the window's
// model (ui/model/MainModel.h), which decides everything that is not about the toolkit. The face
// creates the controls at the sizes of the window's layout (96 DPI, scaled by the monitor's DPI),
// forwards their events to the model and paints what it reports. The model's reports arrive as
// window messages: the programming thread's synchronous reports as a message it waits for, the
// session's notifications and the diagnosis's reports posted (WM_RECEIVER_NO_ANSWER,
// WM_RECEIVER_CONNECTED, the lost port's WM_RECEIVER_LOST and WM_DIAGNOSIS_REPORT).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "ui/model/MainModel.h"
#include "ui/win32/ControlIds.h"

class TAboutWindow;

// The window's message that runs a call of another thread and signals it (wParam: TCall*).
constexpr UINT WM_RUN_CALL = WM_APP + 1;

class TMainWindow : public TMainFace {
 public:
  explicit TMainWindow(TDM& dm);
  ~TMainWindow() override;

  // Creates the window (hidden) and its controls.
  bool Create(HINSTANCE instance);
  // Runs FormShow and shows the window centred on the desktop.
  void Show(int showCommand);
  HWND Handle() const { return window_; }
  TMainModel& Model() { return *model_; }
  // The message loop's dialog keys (Tab, Enter) for the window.
  bool PreTranslate(MSG& message);

  // TMainFace
  TMainValues Values() const override;
  void PaintEnabling(const TMainEnabling& enabling) override;
  void PaintResetEnabling(const TResetEnabling& enabling) override;
  void AddLogLine(const std::string& line) override;
  void ReplaceLastLogLine(const std::string& line) override;
  void ClearLogLines() override;
  void SelectLastLogLine() override;
  void FocusLog() override;
  void FocusProgButton() override;
  void SelectRateAndProtocol(int rate, int protocol) override;
  void Synchronize(const std::function<void()>& fn) override;
  void Post(int message, std::function<void()> fn) override;
  void RunCallsUntil(const std::function<bool()>& done) override;
  void HideForClosing() override;

 private:
  struct TCall;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PortListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
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
  void ResetComboChange();
  void BinFileEditChange();
  void BrowseSystemFile();
  void FillPortList();
  void PortListHover(int item);
  void SaveAsButClick();
  void ShowLogMenu(int x, int y);
  void AboutTitleButtonMouseDown();
  void DrawLogo(const DRAWITEMSTRUCT& item);
  void DrawComboItem(const DRAWITEMSTRUCT& item);
  void DrawLogLine(const DRAWITEMSTRUCT& item);
  void AddTool(HWND control, const std::string& text);
  void SetTooltip(HWND control, const std::string& text);
  void RepaintLog(const std::function<void(HWND box)>& change);
  void RunPendingCalls();

  TDM& dm_;
  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND portList_ = nullptr;   // the port box's drop-down list, where each item has its tooltip
  int portListItem_ = -1;     // the item whose tooltip the list shows
  HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
  UINT dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HBITMAP logo_ = nullptr;
  HICON aboutIcon_ = nullptr;
  std::wstring browseFolder_;
  std::vector<TPortItem> ports_;  // the port box's items, in its order
  std::unique_ptr<TAboutWindow> about_;
  DWORD uiThread_ = 0;
  bool closing_ = false;
  // Last: it is made with the face complete and goes first, stopping the job and the diagnosis
  // while the window's parts still exist.
  std::unique_ptr<TMainModel> model_;
};
