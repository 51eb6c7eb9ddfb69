#include "ui/win32/AboutWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include "appdata/Language.h"
#include "ui/model/MainModel.h"
#include "ui/win32/Win32Text.h"

using win::Scale;
using win::Wide;

namespace {

constexpr int ClientWidth = 328, ClientHeight = 165;

struct TPlace {
  int Id, Left, Top, Width, Height;
};
constexpr TPlace Places[] = {
    {IdProgNameLab, 14, 15, 266, 16},    {IdVerLab, 14, 47, 56, 16},
    {IdVersionInfoLab, 81, 47, 204, 16}, {IdLangLab, 14, 79, 67, 16},
    {IdLangCombo, 81, 76, 58, 24},       {IdBevel, 14, 106, 301, 8},
    {IdWebLabel, 14, 133, 200, 16},      {IdAboutOk, 224, 126, 91, 32},
};

}  // namespace

TAboutWindow::~TAboutWindow() {
  for (HFONT font : {font_, boldFont_, linkFont_})
    if (font != nullptr) DeleteObject(font);
}

void TAboutWindow::ShowModal(HWND owner) {
  owner_ = owner;
  // An empty dialog template: the controls are made in WM_INITDIALOG at their scaled places.
  struct alignas(4) {
    DLGTEMPLATE Template;
    WORD Menu, Class, Title;
  } empty{};
  empty.Template.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  empty.Template.cx = 100;
  empty.Template.cy = 50;
  DialogBoxIndirectParamW(instance_, &empty.Template, owner, DialogProc,
                          reinterpret_cast<LPARAM>(this));
  dialog_ = nullptr;
}

INT_PTR CALLBACK TAboutWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  TAboutWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<TAboutWindow*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, static_cast<LONG_PTR>(lParam));
    self->dialog_ = dialog;
    self->FormShow();
    return FALSE;  // the focus is set by FormShow
  }
  self = reinterpret_cast<TAboutWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:  // "ОК", Enter, Esc and the close button: closing changes nothing
          EndDialog(dialog, IDOK);
          return TRUE;
        case IdLangCombo:
          if (HIWORD(wParam) == CBN_SELCHANGE) self->LangComboChange();
          return TRUE;
        case IdWebLabel:
          if (HIWORD(wParam) == STN_CLICKED) self->OpenWebAddress();
          return TRUE;
        default:
          break;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IdWebLabel)) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0xCC));  // a link's blue
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_DPICHANGED:
      self->dpi_ = HIWORD(wParam);
      self->Layout();
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

// The link is underlined while the pointer is over it.
LRESULT CALLBACK TAboutWindow::LinkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TAboutWindow*>(data);
  if (message == WM_MOUSEMOVE && !self->hovered_) {
    self->hovered_ = true;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, link, 0};
    TrackMouseEvent(&track);
    SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(self->linkFont_), TRUE);
  } else if (message == WM_MOUSELEAVE) {
    self->hovered_ = false;
    SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(self->font_), TRUE);
  } else if (message == WM_SETCURSOR) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  return DefSubclassProc(link, message, wParam, lParam);
}

void TAboutWindow::FormShow() {
  dpi_ = win::WindowDpi(dialog_);
  auto add = [this](int id, const wchar_t* kind, const char* text, DWORD style) {
    return CreateWindowExW(0, kind, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                           dialog_, reinterpret_cast<HMENU>(INT_PTR{id}), instance_, nullptr);
  };
  const TAboutCaptions& captions = AboutCaptions(IsRussian);
  const TAboutData data = AboutData();
  add(IdLangCombo, WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL);
  add(IdAboutOk, WC_BUTTONW, captions.Ok, BS_DEFPUSHBUTTON | WS_TABSTOP);
  add(IdProgNameLab, WC_STATICW, data.Name.c_str(), SS_LEFT | SS_NOPREFIX);
  add(IdVerLab, WC_STATICW, captions.Version, SS_LEFT);
  add(IdVersionInfoLab, WC_STATICW, data.Version.c_str(), SS_LEFT | SS_NOPREFIX);
  add(IdLangLab, WC_STATICW, captions.Language, SS_LEFT);
  add(IdBevel, WC_STATICW, "", SS_ETCHEDHORZ);
  webAddress_ = data.WebAddress;
  HWND link = add(IdWebLabel, WC_STATICW, webAddress_.c_str(), SS_LEFT | SS_NOTIFY | SS_NOPREFIX);
  SetWindowSubclass(link, LinkProc, 1, reinterpret_cast<DWORD_PTR>(this));
  win::SetText(dialog_, captions.Title);

  HWND lang = GetDlgItem(dialog_, IdLangCombo);
  for (const char* item : LanguageItems)
    SendMessageW(lang, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
  settingLanguage_ = true;
  SendMessageW(lang, CB_SETCURSEL, data.Language, 0);
  settingLanguage_ = false;
  Layout();

  // Centred over the main window.
  RECT main{}, own{};
  GetWindowRect(owner_, &main);
  GetWindowRect(dialog_, &own);
  const int width = own.right - own.left, height = own.bottom - own.top;
  SetWindowPos(dialog_, nullptr, (main.left + main.right - width) / 2,
               (main.top + main.bottom - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetFocus(GetDlgItem(dialog_, IdAboutOk));
}

void TAboutWindow::Layout() {
  for (HFONT font : {font_, boldFont_, linkFont_})
    if (font != nullptr) DeleteObject(font);
  font_ = win::MakeWindowFont(dpi_, false);
  boldFont_ = win::MakeWindowFont(dpi_, true);
  linkFont_ = win::MakeWindowFont(dpi_, false, true);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE));
  const SIZE outer =
      win::OuterSize(Scale(ClientWidth, dpi_), Scale(ClientHeight, dpi_), style, exStyle, dpi_);
  SetWindowPos(dialog_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER);
  for (const TPlace& place : Places) {
    HWND control = GetDlgItem(dialog_, place.Id);
    const bool bold = place.Id == IdProgNameLab || place.Id == IdAboutOk;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? boldFont_ : font_), TRUE);
    int width = Scale(place.Width, dpi_), height = Scale(place.Height, dpi_);
    if (place.Id == IdLangCombo) {
      SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 6);
      height += Scale(60, dpi_);
    }
    if (place.Id == IdWebLabel) {
      // As wide as the address: the pointer is over the link only where its text is.
      HDC dc = GetDC(control);
      HGDIOBJ old = SelectObject(dc, font_);
      const std::wstring text = Wide(webAddress_);
      SIZE extent{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
      SelectObject(dc, old);
      ReleaseDC(control, dc);
      width = extent.cx + Scale(2, dpi_);
    }
    SetWindowPos(control, nullptr, Scale(place.Left, dpi_), Scale(place.Top, dpi_), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// The language of the next start is saved at once; this run keeps its language.
void TAboutWindow::LangComboChange() {
  const int index = static_cast<int>(SendDlgItemMessageW(dialog_, IdLangCombo, CB_GETCURSEL, 0, 0));
  if (settingLanguage_ || index < 0) return;
  SaveLanguage(dm_, index);
}

void TAboutWindow::OpenWebAddress() {
  if (webAddress_.empty()) return;
  ShellExecuteW(dialog_, L"open", Wide(webAddress_).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
