// The native window's class name and the identifiers of its controls and of the About window's:
// what the window is built from and what the automation test addresses (GetDlgItem).
#pragma once

#include <windows.h>

// The class names the automation test finds the windows by.
inline constexpr const wchar_t* MainWindowClass = L"ZV8810_FWU_MainF";

// Control identifiers (also what the automation test addresses with GetDlgItem).
enum TControlId : int {
  IdPortLab = 100,
  IdPortCombo,
  IdWaitPortPanel,
  IdResetLab,
  IdResetCombo,
  IdRateLab,
  IdRateCombo,
  IdProtLab,
  IdProtCombo,
  IdSysFileLab,
  IdBinFileEdit,
  IdBinFileBrowse,
  IdProgBut,
  IdVerCheckBut,
  IdLogBox,
  IdLogoImage,
  IdLogoBevel,
  IdPanel,
  IdAboutTitleButton,
  IdSaveAsBut,
};

enum TAboutControlId : int {
  IdProgNameLab = 200,
  IdVerLab,
  IdVersionInfoLab,
  IdLangLab,
  IdLangCombo,
  IdBevel,
  IdWebLabel,
  IdAboutOk = IDOK,
};
