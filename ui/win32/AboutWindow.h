// The About window on Windows: the program's name and version from its own version resource,
// the language of the next start (saved at once), the maker's web address opened in the
// system's browser, and "ОК". A modal dialog made in memory, its controls placed at 96 DPI and
// scaled.
#pragma once

#include <windows.h>

#include "appdata/DMU.h"
#include "ui/win32/ControlIds.h"

class TAboutWindow {
 public:
  TAboutWindow(TDM& dm, HINSTANCE instance) : dm_(dm), instance_(instance) {}
  ~TAboutWindow();
  // Shows the window modally over owner; returns when it closes.
  void ShowModal(HWND owner);
  // The main window closes: an open About window leaves the screen with it.
  void Hide() {
    if (dialog_ != nullptr) ShowWindow(dialog_, SW_HIDE);
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK LinkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR data);
  void FormShow();
  void Layout();
  void LangComboChange();
  void OpenWebAddress();

  TDM& dm_;
  HINSTANCE instance_;
  HWND dialog_ = nullptr;
  HWND owner_ = nullptr;
  UINT dpi_ = 96;
  HFONT font_ = nullptr, boldFont_ = nullptr, linkFont_ = nullptr;
  bool settingLanguage_ = false;  // the box is set by FormShow: no save
  bool hovered_ = false;
  std::string webAddress_;
};
