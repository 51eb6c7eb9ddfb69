#include "ui/win32/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <ctime>
#include <cwchar>

#include "appdata/MessageSink.h"
#include "ui/win32/AboutWindow.h"
#include "ui/win32/Win32Text.h"

using win::Scale;
using win::Wide;

namespace {

constexpr int ClientWidth = 516, ClientHeight = 303;
constexpr int PanelLeft = 5, PanelTop = 6;
constexpr DWORD MainStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr UINT SysMenuAbout = 0x0110;  // the system menu's "About" (a multiple of 16)

// Where each control lies, at 96 DPI: left, top, width, height inside the panel sPanel1 (the
// panel itself and the About button inside the window's area). A drop-down box's height is
// that of its closed field; its list opens below.
struct TPlace {
  int Id, Left, Top, Width, Height;
  bool InPanel;
};
constexpr TPlace Places[] = {
    {IdPanel, PanelLeft, PanelTop, 505, 292, false},
    {IdLogoBevel, 276, 13, 217, 91, true},
    {IdLogoImage, 277, 13, 215, 90, true},
    {IdPortLab, 12, 16, 90, 16, true},
    {IdPortCombo, 104, 13, 105, 24, true},
    {IdWaitPortPanel, 104, 13, 105, 24, true},
    {IdResetLab, 12, 49, 90, 16, true},
    {IdResetCombo, 104, 46, 105, 24, true},
    {IdRateLab, 12, 82, 90, 16, true},
    {IdRateCombo, 104, 79, 105, 24, true},
    {IdProtLab, 12, 114, 90, 16, true},
    {IdProtCombo, 104, 111, 105, 24, true},
    {IdSysFileLab, 12, 147, 90, 16, true},
    // The file-name field with its browse button: 387 pixels together.
    {IdBinFileEdit, 104, 144, 363, 24, true},
    {IdBinFileBrowse, 467, 144, 24, 24, true},
    {IdProgBut, 12, 183, 197, 35, true},
    {IdVerCheckBut, 352, 183, 140, 35, true},
    {IdLogBox, 12, 232, 480, 52, true},
    {IdAboutTitleButton, ClientWidth - 20, 0, 18, 18, false},
};
constexpr int ComboListHeight = 170;  // the open list of a drop-down box, at 96 DPI

RECT PlaceRect(const TPlace& place, UINT dpi) {
  const int left = Scale(place.Left + (place.InPanel ? PanelLeft : 0), dpi);
  const int top = Scale(place.Top + (place.InPanel ? PanelTop : 0), dpi);
  return RECT{left, top, left + Scale(place.Width, dpi), top + Scale(place.Height, dpi)};
}

bool IsCombo(int id) {
  return id == IdPortCombo || id == IdResetCombo || id == IdRateCombo || id == IdProtCombo;
}

int ComboIndex(HWND combo) {
  return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

std::string ComboText(HWND combo) {
  const int index = ComboIndex(combo);
  if (index < 0) return std::string();
  const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return win::Utf8(text);
}
void AddItem(HWND combo, const std::string& item) {
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
}

std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A list or box item's text.
std::wstring ItemText(HWND control, UINT lengthMessage, UINT textMessage, UINT item) {
  const auto length = SendMessageW(control, lengthMessage, item, 0);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  SendMessageW(control, textMessage, item, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return text;
}

}  // namespace

struct TMainWindow::TCall {
  const std::function<void()>* Fn;
};

TMainWindow::TMainWindow(TDM& dm) : dm_(dm) {
  uiThread_ = GetCurrentThreadId();
  model_ = std::make_unique<TMainModel>(dm_, *this);
}

TMainWindow::~TMainWindow() {
  model_->Close();  // the diagnosis and the job stop while the controls still exist
  if (window_ != nullptr) DestroyWindow(window_);
  if (font_ != nullptr) DeleteObject(font_);
  if (boldFont_ != nullptr) DeleteObject(boldFont_);
  if (logo_ != nullptr) DeleteObject(logo_);
  if (aboutIcon_ != nullptr) DestroyIcon(aboutIcon_);
}

bool TMainWindow::Create(HINSTANCE instance) {
  instance_ = instance;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = MainWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return false;
  window_ = CreateWindowExW(
      WS_EX_CONTROLPARENT, MainWindowClass, Wide(MainCaptions(false).Title).c_str(), MainStyle,
      CW_USEDEFAULT, CW_USEDEFAULT, ClientWidth, ClientHeight, nullptr, nullptr, instance, this);
  if (window_ == nullptr) return false;
  dpi_ = win::WindowDpi(window_);
  CreateControls();
  ApplyFonts();
  Layout();
  HMENU system = GetSystemMenu(window_, FALSE);
  AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(system, MF_STRING, SysMenuAbout, L"About...");
  about_ = std::make_unique<TAboutWindow>(dm_, instance_);
  return true;
}

HWND TMainWindow::AddControl(int id, const wchar_t* kind, const std::string& text, DWORD style,
                             DWORD exStyle) {
  HWND control =
      CreateWindowExW(exStyle, kind, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10,
                      10, window_, reinterpret_cast<HMENU>(INT_PTR{id}), instance_, nullptr);
  return control;
}

// Created in the focus order ("Programming", port, baud rate, protocol, system file, log,
// reset, "Versions Info", then the browse and About buttons): Tab follows the creation order.
// The texts are the English ones until FormShow gives those of the language.
void TMainWindow::CreateControls() {
  const TMainCaptions& english = MainCaptions(false);
  // Drawn by the window: a long item (the Russian reset items) is narrowed to fit its box.
  const DWORD combo =
      CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP;
  AddControl(IdProgBut, WC_BUTTONW, english.Program, BS_DEFPUSHBUTTON | WS_TABSTOP);
  HWND port = AddControl(IdPortCombo, WC_COMBOBOXW, "", combo);
  HWND rate = AddControl(IdRateCombo, WC_COMBOBOXW, "", combo);
  HWND protocol = AddControl(IdProtCombo, WC_COMBOBOXW, "", combo);
  AddControl(IdBinFileEdit, WC_EDITW, "", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE);
  AddControl(IdLogBox, WC_LISTBOXW, "",
             LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | WS_VSCROLL |
                 WS_TABSTOP,
             WS_EX_CLIENTEDGE);
  HWND reset = AddControl(IdResetCombo, WC_COMBOBOXW, "", combo);
  AddControl(IdVerCheckBut, WC_BUTTONW, english.Versions, BS_PUSHBUTTON | WS_TABSTOP);
  AddControl(IdBinFileBrowse, WC_BUTTONW, english.Browse, BS_PUSHBUTTON | WS_TABSTOP);
  AddControl(IdAboutTitleButton, WC_BUTTONW, "", BS_ICON | BS_FLAT | WS_TABSTOP);
  AddControl(IdPortLab, WC_STATICW, english.Port, SS_LEFT);
  AddControl(IdResetLab, WC_STATICW, english.Reset, SS_LEFT);
  AddControl(IdRateLab, WC_STATICW, english.Rate, SS_LEFT);
  AddControl(IdProtLab, WC_STATICW, english.Protocol, SS_LEFT);
  AddControl(IdSysFileLab, WC_STATICW, english.SystemFile, SS_LEFT);
  AddControl(IdLogoImage, WC_STATICW, "", SS_OWNERDRAW);
  HWND wait = AddControl(IdWaitPortPanel, WC_STATICW, english.WaitPort,
                         SS_CENTER | SS_CENTERIMAGE | WS_BORDER);
  ShowWindow(wait, SW_HIDE);

  AddItem(reset, english.ResetAuto);
  AddItem(reset, english.ResetManual);
  for (std::int32_t offered : OfferedRates) AddItem(rate, std::to_string(offered));
  SendMessageW(rate, CB_SETCURSEL, 5, 0);  // 115200
  for (const char* item : ProtocolItems) AddItem(protocol, item);
  SendMessageW(protocol, CB_SETCURSEL, 0, 0);
  SendDlgItemMessageW(window_, IdBinFileEdit, EM_SETLIMITTEXT, 255, 0);

  aboutIcon_ =
      static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(2), IMAGE_ICON, 16, 16, 0));
  SendDlgItemMessageW(window_, IdAboutTitleButton, BM_SETIMAGE, IMAGE_ICON,
                      reinterpret_cast<LPARAM>(aboutIcon_));

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                             nullptr, instance_, nullptr);
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
  AddTool(GetDlgItem(window_, IdBinFileEdit), "");
  AddTool(GetDlgItem(window_, IdAboutTitleButton), english.About);
  // The port box's open list: the item under the pointer shows its tooltip (the device behind
  // the port), as the list's one tool whose text follows the pointer.
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (GetComboBoxInfo(port, &info) && info.hwndList != nullptr) {
    portList_ = info.hwndList;
    AddTool(portList_, "");
    SetWindowSubclass(portList_, PortListProc, 1, reinterpret_cast<DWORD_PTR>(this));
  }
}

void TMainWindow::AddTool(HWND control, const std::string& text) {
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  std::wstring wide = Wide(text);
  tool.lpszText = wide.data();
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TMainWindow::SetTooltip(HWND control, const std::string& text) {
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  std::wstring wide = Wide(win::CrLfLines(text));
  tool.lpszText = wide.data();
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The pointer over the port box's open list: the item under it gives the list's tooltip.
LRESULT CALLBACK TMainWindow::PortListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TMainWindow*>(data);
  if (message == WM_MOUSEMOVE) {
    const auto hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam);
    self->PortListHover(HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1);
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

void TMainWindow::PortListHover(int item) {
  if (item == portListItem_) return;
  portListItem_ = item;
  const bool known = item >= 0 && item < static_cast<int>(ports_.size());
  SendMessageW(tooltip_, TTM_POP, 0, 0);  // the next item's tip comes after the usual pause
  SetTooltip(portList_, known ? ports_[static_cast<std::size_t>(item)].Tooltip : std::string());
}

void TMainWindow::ApplyFonts() {
  if (font_ != nullptr) DeleteObject(font_);
  if (boldFont_ != nullptr) DeleteObject(boldFont_);
  font_ = win::MakeWindowFont(dpi_, false);
  boldFont_ = win::MakeWindowFont(dpi_, true);
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    const bool bold = id == IdProgBut || id == IdVerCheckBut;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? boldFont_ : font_), TRUE);
  }
  SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

// Every control at its place, scaled by the window's DPI.
void TMainWindow::Layout() {
  const SIZE outer =
      win::OuterSize(Scale(ClientWidth, dpi_), Scale(ClientHeight, dpi_), MainStyle, 0, dpi_);
  SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const TPlace& place : Places) {
    HWND control = GetDlgItem(window_, place.Id);
    if (control == nullptr) continue;  // the frames are drawn by the window (Paint)
    const RECT area = PlaceRect(place, dpi_);
    const int left = area.left, top = area.top;
    int height = area.bottom - area.top;
    if (IsCombo(place.Id)) {
      // The closed field's height is its item height and the frame's 6 pixels.
      SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 6);
      SendMessageW(control, CB_SETITEMHEIGHT, 0, Scale(16, dpi_));
      height += Scale(ComboListHeight, dpi_);
    }
    SetWindowPos(control, nullptr, left, top, Scale(place.Width, dpi_), height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SendDlgItemMessageW(window_, IdLogBox, LB_SETITEMHEIGHT, 0, Scale(16, dpi_));
  InvalidateRect(window_, nullptr, TRUE);
}

// The panel's frame and the logo's, drawn by the window itself: a frame control over the whole
// panel would keep the window from painting its background under it.
void TMainWindow::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  for (const TPlace& place : Places) {
    if (place.Id != IdPanel && place.Id != IdLogoBevel) continue;
    RECT area = PlaceRect(place, dpi_);
    DrawEdge(dc, &area, place.Id == IdPanel ? EDGE_ETCHED : BDR_SUNKENOUTER, BF_RECT);
  }
  EndPaint(window_, &paint);
}

void TMainWindow::Show(int showCommand) {
  FormShow();
  RECT work{}, frame{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(GetDlgItem(window_, IdProgBut));
}

// The model's initial values into the controls: the saved port while it exists, the rate,
// protocol and reset of the settings, the file (its change describes it in the tooltip).
void TMainWindow::FormShow() {
  ApplyLanguage();
  const TInitialValues initial = model_->InitialValues();
  HWND port = GetDlgItem(window_, IdPortCombo);
  SendMessageW(port, CB_RESETCONTENT, 0, 0);
  ports_ = initial.Ports;
  int chosen = -1;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    AddItem(port, ports_[i].Name);
    if (ports_[i].Name == initial.Values.Port) chosen = static_cast<int>(i);
  }
  SendMessageW(port, CB_SETCURSEL, chosen, 0);
  SendDlgItemMessageW(window_, IdRateCombo, CB_SETCURSEL, initial.Values.Rate, 0);
  SendDlgItemMessageW(window_, IdProtCombo, CB_SETCURSEL, initial.Values.Protocol, 0);
  SendDlgItemMessageW(window_, IdResetCombo, CB_SETCURSEL, initial.Values.Reset, 0);
  ResetComboChange();
  SetTooltip(GetDlgItem(window_, IdBinFileEdit), model_->FileTooltip(""));
  browseFolder_ = Wide(initial.BrowseFolder);
  if (!initial.Values.SystemFile.empty())  // EN_CHANGE: the tooltip
    win::SetText(GetDlgItem(window_, IdBinFileEdit), initial.Values.SystemFile);
}

void TMainWindow::ApplyLanguage() {
  if (logo_ != nullptr) DeleteObject(logo_);
  logo_ = static_cast<HBITMAP>(LoadImageW(instance_, Wide(model_->LogoResource()).c_str(),
                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  InvalidateRect(GetDlgItem(window_, IdLogoImage), nullptr, TRUE);
  const TMainCaptions& captions = model_->Captions();
  win::SetText(window_, captions.Title);
  const struct {
    int Id;
    const char* Text;
  } texts[] = {{IdPortLab, captions.Port},          {IdResetLab, captions.Reset},
               {IdRateLab, captions.Rate},          {IdProtLab, captions.Protocol},
               {IdSysFileLab, captions.SystemFile}, {IdProgBut, captions.Program},
               {IdVerCheckBut, captions.Versions},  {IdWaitPortPanel, captions.WaitPort},
               {IdBinFileBrowse, captions.Browse}};
  for (const auto& text : texts) win::SetText(GetDlgItem(window_, text.Id), text.Text);
  SetTooltip(GetDlgItem(window_, IdAboutTitleButton), captions.About);
  // The reset items are replaced in place: the chosen index means the same in both languages.
  HWND reset = GetDlgItem(window_, IdResetCombo);
  const int selected = ComboIndex(reset);
  SendMessageW(reset, CB_RESETCONTENT, 0, 0);
  AddItem(reset, captions.ResetAuto);
  AddItem(reset, captions.ResetManual);
  SendMessageW(reset, CB_SETCURSEL, selected, 0);
}

TMainValues TMainWindow::Values() const {
  TMainValues values;
  values.Port = ComboText(GetDlgItem(window_, IdPortCombo));
  values.Reset = ComboIndex(GetDlgItem(window_, IdResetCombo));
  values.Rate = ComboIndex(GetDlgItem(window_, IdRateCombo));
  values.Protocol = ComboIndex(GetDlgItem(window_, IdProtCombo));
  values.SystemFile = win::WindowText(GetDlgItem(window_, IdBinFileEdit));
  return values;
}

void TMainWindow::PaintEnabling(const TMainEnabling& enabling) {
  const struct {
    int Id;
    bool Enabled;
  } controls[] = {{IdPortCombo, enabling.Port},       {IdBinFileEdit, enabling.SystemFile},
                  {IdBinFileBrowse, enabling.Browse}, {IdResetCombo, enabling.Reset},
                  {IdProgBut, enabling.Program},      {IdVerCheckBut, enabling.Versions},
                  {IdRateCombo, enabling.Rate},       {IdProtCombo, enabling.Protocol}};
  for (const auto& control : controls)
    EnableWindow(GetDlgItem(window_, control.Id), control.Enabled);
}

void TMainWindow::PaintResetEnabling(const TResetEnabling& enabling) {
  EnableWindow(GetDlgItem(window_, IdRateCombo), enabling.Rate);
  EnableWindow(GetDlgItem(window_, IdRateLab), enabling.RateLabel);
  EnableWindow(GetDlgItem(window_, IdProtCombo), enabling.Protocol);
  EnableWindow(GetDlgItem(window_, IdProtLab), enabling.ProtocolLabel);
}

void TMainWindow::ResetComboChange() {
  model_->ResetChanged(ComboIndex(GetDlgItem(window_, IdResetCombo)));
}

void TMainWindow::BinFileEditChange() {
  HWND edit = GetDlgItem(window_, IdBinFileEdit);
  SetTooltip(edit, model_->FileTooltip(win::WindowText(edit)));
}

void TMainWindow::BrowseSystemFile() {
  wchar_t path[MAX_PATH] = L"";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"*.bin\0*.bin\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = browseFolder_.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetOpenFileNameW(&dialog)) return;
  browseFolder_ = FolderOf(path);
  SetWindowTextW(GetDlgItem(window_, IdBinFileEdit), path);
}

// "Wait please" over the box while the machine's ports are read; then the model's items, the
// one it chooses selected (the port shown before while it is still there, else the saved one).
void TMainWindow::FillPortList() {
  HWND port = GetDlgItem(window_, IdPortCombo);
  HWND wait = GetDlgItem(window_, IdWaitPortPanel);
  SetWindowPos(wait, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(wait);
  const std::string shown = ComboText(port);
  ports_ = model_->PortItems();
  SendMessageW(port, CB_RESETCONTENT, 0, 0);
  for (const TPortItem& item : ports_) AddItem(port, item.Name);
  SendMessageW(port, CB_SETCURSEL, model_->ChosenPort(ports_, shown), 0);
  PortListHover(-1);
  ShowWindow(wait, SW_HIDE);
}

void TMainWindow::ClearLogLines() {
  SendDlgItemMessageW(window_, IdLogBox, LB_RESETCONTENT, 0, 0);
}

// One repaint per report, however often they come; the last line selected and in view.
void TMainWindow::RepaintLog(const std::function<void(HWND box)>& change) {
  HWND box = GetDlgItem(window_, IdLogBox);
  SendMessageW(box, WM_SETREDRAW, FALSE, 0);
  change(box);
  SelectLastLogLine();
  SendMessageW(box, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(box, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
}

void TMainWindow::AddLogLine(const std::string& line) {
  RepaintLog([&line](HWND box) {
    SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
  });
}

void TMainWindow::ReplaceLastLogLine(const std::string& line) {
  RepaintLog([&line](HWND box) {
    const auto count = SendMessageW(box, LB_GETCOUNT, 0, 0);
    if (count > 0) SendMessageW(box, LB_DELETESTRING, count - 1, 0);
    SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
  });
}

void TMainWindow::SelectLastLogLine() {
  HWND box = GetDlgItem(window_, IdLogBox);
  const auto count = SendMessageW(box, LB_GETCOUNT, 0, 0);
  if (count > 0 && SendMessageW(box, LB_GETCURSEL, 0, 0) != count - 1)
    SendMessageW(box, LB_SETCURSEL, count - 1, 0);
}

void TMainWindow::FocusLog() {
  SetFocus(GetDlgItem(window_, IdLogBox));
}

void TMainWindow::FocusProgButton() {
  SetFocus(GetDlgItem(window_, IdProgBut));
}

void TMainWindow::SelectRateAndProtocol(int rate, int protocol) {
  SendDlgItemMessageW(window_, IdProtCombo, CB_SETCURSEL, protocol, 0);
  SendDlgItemMessageW(window_, IdRateCombo, CB_SETCURSEL, rate, 0);
}

// The programming thread's reports: sent to the window, so the thread waits until the UI thread
// has run them (message boxes included).
void TMainWindow::Synchronize(const std::function<void()>& fn) {
  if (GetCurrentThreadId() == uiThread_) {
    fn();
    return;
  }
  TCall call{&fn};
  if (window_ != nullptr) SendMessageW(window_, WM_RUN_CALL, reinterpret_cast<WPARAM>(&call), 0);
}

// The session's notifications and the diagnosis's reports: posted as the window message itself,
// the call in lParam.
void TMainWindow::Post(int message, std::function<void()> fn) {
  auto* call = new std::function<void()>(std::move(fn));
  if (window_ == nullptr ||
      !PostMessageW(window_, static_cast<UINT>(message), 0, reinterpret_cast<LPARAM>(call)))
    delete call;
}

void TMainWindow::RunPendingCalls() {
  MSG message;
  // Sent calls run inside PeekMessage; posted notifications and paints are dispatched. The
  // operator's input waits: nothing starts while the window waits for the thread.
  while (PeekMessageW(&message, nullptr, 0, 0,
                      PM_REMOVE | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE | PM_QS_PAINT)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TMainWindow::RunCallsUntil(const std::function<bool()>& done) {
  while (!done()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE | QS_POSTMESSAGE | QS_PAINT);
    RunPendingCalls();
  }
}

// The job's last steps (the restart command, the port's release) take a second or two: the
// window goes at once and they finish behind it.
void TMainWindow::HideForClosing() {
  if (about_) about_->Hide();
  ShowWindow(window_, SW_HIDE);
}

bool TMainWindow::PreTranslate(MSG& message) {
  if (window_ == nullptr || (message.hwnd != window_ && !IsChild(window_, message.hwnd)))
    return false;
  // Enter presses "Programming" from every control, unless it closes an open drop-down list.
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
    HWND focus = GetFocus();
    const int id = focus != nullptr ? GetDlgCtrlID(focus) : 0;
    if (!(IsCombo(id) && SendMessageW(focus, CB_GETDROPPEDSTATE, 0, 0))) {
      HWND prog = GetDlgItem(window_, IdProgBut);
      if (IsWindowEnabled(prog)) SendMessageW(prog, BM_CLICK, 0, 0);
      return true;
    }
  }
  return IsDialogMessageW(window_, &message) != FALSE;
}

void TMainWindow::ShowLogMenu(int x, int y) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IdSaveAsBut, Wide(model_->Captions().SaveAs).c_str());
  if (x == -1 && y == -1) {  // from the keyboard: at the log's corner
    RECT box{};
    GetWindowRect(GetDlgItem(window_, IdLogBox), &box);
    x = box.left;
    y = box.top;
  }
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, 0, window_, nullptr);
  DestroyMenu(menu);
}

// The log as it stands is saved, during a job as well as after it, under the name the model
// proposes in the documents folder unless the operator names another file.
void TMainWindow::SaveAsButClick() {
  if (model_->SavedLogText().empty()) return;  // nothing to save
  wchar_t folder[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder)))
    folder[0] = L'\0';
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::tm local{};
  local.tm_year = now.wYear - 1900;
  local.tm_mon = now.wMonth - 1;
  local.tm_mday = now.wDay;
  local.tm_hour = now.wHour;
  local.tm_min = now.wMinute;
  local.tm_sec = now.wSecond;
  wchar_t path[MAX_PATH] = L"";
  wcsncpy(path, Wide(ProposedLogName(local)).c_str(), MAX_PATH - 1);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"*.txt\0*.txt\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = folder[0] != L'\0' ? folder : nullptr;
  dialog.lpstrDefExt = L"txt";  // the dialog asks before replacing the file that is written
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return;
  const std::string file = WithLogExtension(win::Utf8(path));
  if (!model_->SaveLogTo(file)) ShowMessage(model_->SaveFailedText(file), TMessageIcon::Error);
}

void TMainWindow::AboutTitleButtonMouseDown() {
  about_->ShowModal(window_);
}

// An item of a drop-down box, in its list or in the closed box. A text wider than the box is
// drawn with a narrower font so that it fits whole ("Программный" in the 105-pixel reset box).
void TMainWindow::DrawComboItem(const DRAWITEMSTRUCT& item) {
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(item.hDC, &item.rcItem,
           GetSysColorBrush(selected && !disabled ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID == static_cast<UINT>(-1)) return;
  const std::wstring text = ItemText(item.hwndItem, CB_GETLBTEXTLEN, CB_GETLBTEXT, item.itemID);
  RECT area = item.rcItem;
  area.left += Scale(2, dpi_);
  area.right -= Scale(1, dpi_);
  HGDIOBJ old = SelectObject(item.hDC, font_);
  SIZE extent{};
  GetTextExtentPoint32W(item.hDC, text.c_str(), static_cast<int>(text.size()), &extent);
  const int room = area.right - area.left;
  HFONT narrow = nullptr;
  if (extent.cx > room && room > 0) {
    TEXTMETRICW metrics{};
    GetTextMetricsW(item.hDC, &metrics);
    LOGFONTW font{};
    GetObjectW(font_, sizeof font, &font);
    font.lfWidth = metrics.tmAveCharWidth;
    // Narrower until it fits: a font's widths do not shrink exactly in proportion.
    for (int attempt = 0; attempt < 8 && extent.cx > room && font.lfWidth > 1; ++attempt) {
      font.lfWidth = std::max<LONG>(
          1, std::min<LONG>(font.lfWidth - 1, MulDiv(font.lfWidth, room, extent.cx)));
      HFONT next = CreateFontIndirectW(&font);
      if (next == nullptr) break;
      SelectObject(item.hDC, next);
      if (narrow != nullptr) DeleteObject(narrow);
      narrow = next;
      GetTextExtentPoint32W(item.hDC, text.c_str(), static_cast<int>(text.size()), &extent);
    }
  }
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(disabled   ? COLOR_GRAYTEXT
                                     : selected ? COLOR_HIGHLIGHTTEXT
                                                : COLOR_WINDOWTEXT));
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(item.hDC, old);
  if (narrow != nullptr) DeleteObject(narrow);
  if ((item.itemState & ODS_FOCUS) && (item.itemState & ODS_COMBOBOXEDIT))
    DrawFocusRect(item.hDC, &item.rcItem);
}

// The log's lines: one row each, the selected one highlighted.
void TMainWindow::DrawLogLine(const DRAWITEMSTRUCT& item) {
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const std::wstring text = ItemText(item.hwndItem, LB_GETTEXTLEN, LB_GETTEXT, item.itemID);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  RECT area = item.rcItem;
  area.left += Scale(2, dpi_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
}

void TMainWindow::DrawLogo(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (logo_ == nullptr) return;
  BITMAP bitmap{};
  GetObjectW(logo_, sizeof bitmap, &bitmap);
  if (bitmap.bmWidth <= 0 || bitmap.bmHeight <= 0) return;
  // Scaled proportionally into the control, centred.
  const int width = item.rcItem.right - item.rcItem.left;
  const int height = item.rcItem.bottom - item.rcItem.top;
  int drawnWidth = width, drawnHeight = MulDiv(bitmap.bmHeight, width, bitmap.bmWidth);
  if (drawnHeight > height) {
    drawnHeight = height;
    drawnWidth = MulDiv(bitmap.bmWidth, height, bitmap.bmHeight);
  }
  HDC memory = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(memory, logo_);
  SetStretchBltMode(item.hDC, HALFTONE);
  SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  StretchBlt(item.hDC, item.rcItem.left + (width - drawnWidth) / 2,
             item.rcItem.top + (height - drawnHeight) / 2, drawnWidth, drawnHeight, memory, 0, 0,
             bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
}

void TMainWindow::Command(int id, int code) {
  switch (id) {
    case IdProgBut:
      if (code == BN_CLICKED) model_->Start(ModeProgram);
      break;
    case IdVerCheckBut:
      if (code == BN_CLICKED) model_->Start(ModeVersions);
      break;
    case IdBinFileBrowse:
      if (code == BN_CLICKED) BrowseSystemFile();
      break;
    case IdAboutTitleButton:
      if (code == BN_CLICKED) AboutTitleButtonMouseDown();
      break;
    case IdSaveAsBut:
      SaveAsButClick();
      break;
    case IdPortCombo:
      if (code == CBN_SETFOCUS) FillPortList();  // PortComboEnter
      if (code == CBN_CLOSEUP) PortListHover(-1);
      break;
    case IdResetCombo:
      if (code == CBN_SELCHANGE) ResetComboChange();
      break;
    case IdBinFileEdit:
      if (code == EN_CHANGE) BinFileEditChange();
      break;
    default:
      break;
  }
}

LRESULT CALLBACK TMainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TMainWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<TMainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
  } else {
    self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (self == nullptr || self->window_ == nullptr)
    return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT TMainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_RUN_CALL:
      (*reinterpret_cast<TCall*>(wParam)->Fn)();
      return 0;
    case WM_RECEIVER_NO_ANSWER:
    case WM_RECEIVER_CONNECTED:
    case WM_RECEIVER_LOST:
    case WM_DIAGNOSIS_REPORT: {
      std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lParam));
      if (call && *call && !closing_) (*call)();
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && lParam == 0) {  // Enter through the dialog keys
        HWND prog = GetDlgItem(window_, IdProgBut);
        if (IsWindowEnabled(prog)) model_->Start(ModeProgram);
        return 0;
      }
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IdProgBut, DC_HASDEFID);
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SysMenuAbout) {
        AboutTitleButtonMouseDown();
        return 0;
      }
      break;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == GetDlgItem(window_, IdLogBox)) {
        ShowLogMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
      }
      break;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlID == IdLogoImage) {
        DrawLogo(item);
        return TRUE;
      }
      if (IsCombo(static_cast<int>(item.CtlID))) {
        DrawComboItem(item);
        return TRUE;
      }
      if (item.CtlID == IdLogBox && item.itemID != static_cast<UINT>(-1)) {
        DrawLogLine(item);
        return TRUE;
      }
      break;
    }
    case WM_MEASUREITEM: {
      auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (item.CtlID == IdLogBox || IsCombo(static_cast<int>(item.CtlID))) {
        item.itemHeight = static_cast<UINT>(Scale(16, dpi_));
        return TRUE;
      }
      break;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      ApplyFonts();
      Layout();
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_ACTIVATE:
      // As a dialog does: the control that had the focus gets it back when the window is
      // activated again (after a message box, another program), so Tab and Enter go on working.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
      } else if (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_CLOSE:
      // FormCloseQuery: "No" leaves the job running.
      if (!model_->CloseQuery()) return 0;
      closing_ = true;
      model_->Close();  // FormClose releases the session
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY: {
      // Posted calls still queued that no one will run.
      MSG pending;
      while (PeekMessageW(&pending, window_, WM_RECEIVER_NO_ANSWER, WM_DIAGNOSIS_REPORT, PM_REMOVE))
        delete reinterpret_cast<std::function<void()>*>(pending.lParam);
      if (portList_ != nullptr) RemoveWindowSubclass(portList_, PortListProc, 1);
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}
