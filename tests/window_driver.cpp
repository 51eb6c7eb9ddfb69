// zv8810-window-driver.exe: drives the real ZV8810_FWU.exe from outside, through its controls'
// messages, as an operator's clicks would (the window's class and control identifiers are
// ui/win32/ControlIds.h). Each check prints "ok ..." or "FAIL ..."; the exit status is the
// number of failures (at most 100).
//
//   zv8810-window-driver keeps-settings WINDOW.exe SETTINGS.ini
//     Starts the window, checks its English captions, chooses "Rus" in the About window, closes
//     the window; starts it again and checks that it comes up in Russian with "Rus" kept; puts
//     "Eng" back and closes it. SETTINGS.ini (environment variables expanded) is where the window
//     keeps its settings: it must hold Lang=1, then Lang=0.
//   zv8810-window-driver job WINDOW.exe program|versions [reset=ITEM] [rate=R] [protocol=P]
//                           [file=PATH] [close=N] [boxes=N] [go]
//     One job as an operator runs it: the boxes' items chosen, the file typed, the button pressed,
//     every message box read ("MESSAGE ..." lines) and answered, then the log list read ("LOG
//     ..." lines). close=N: once the log has N lines the window is asked to close, answered "No"
//     (the job must go on), then "Yes" (the program must end); the questions print as
//     "QUESTION ..." lines. boxes=N: N message boxes are awaited (a question is answered "Yes").
//     The protocol and bit rate shown at the end print as "PROTOCOL ..." and "RATE ...". go:
//     "READY" is printed and a line awaited before the press.
//   zv8810-window-driver crash WINDOW.exe program|versions|close
//     A start after a crash and one that may crash (the caller sets ZV8810_TEST_CRASH): a box the
//     window shows as it comes up prints as "NOTICE ..." lines and is answered; then the button
//     is pressed (or the window closed) and the program's end awaited ("EXIT n"). A box the job
//     shows instead of the crash prints as "MESSAGE ..." lines. Then the newest crash report in
//     %LOCALAPPDATA%\ZV8810 Firmware Updater\Crash Reports prints as "REPORT path".
//   zv8810-window-driver screen OUT.bmp
//     A picture of the running window with the box or list over it (to look at a run driven
//     by hand, for example with xdotool).
//   zv8810-window-driver pictures WINDOW.exe FOLDER LANG
//     Saves pictures of what the operator sees as 24-bit bitmaps (see Pictures).
//   zv8810-window-driver message
//     Reads the message box the running window shows and leaves it open: its caption
//     ("CAPTION ...") and its text's lines ("MESSAGE ..."). It asks the box for its texts and
//     sends nothing else: a run worked by the mouse reads with it what the operator reads.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ui/win32/ControlIds.h"

namespace {

int failures = 0;

void Check(bool condition, const std::string& what) {
  std::printf("%s %s\n", condition ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!condition) ++failures;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), count,
                      nullptr, nullptr);
  return text;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}

// Waits up to seconds for found() to give a window.
HWND WaitFor(const std::function<HWND()>& found, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (HWND window = found()) return window;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

std::string Text(HWND window) {
  wchar_t buffer[1024] = L"";
  // WM_GETTEXT crosses the process boundary (the system copies the text).
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      5000, nullptr);
  return Utf8(buffer);
}

int Selected(HWND combo) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<int>(static_cast<LRESULT>(result));
}

// A running window program.
struct TWindowProcess {
  PROCESS_INFORMATION Process{};
  HWND Main = nullptr;

  bool Start(const std::string& exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + Wide(exe) + L"\"";
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &Process))
      return false;
    Main = WaitFor(
        [this] {
          HWND found = nullptr;
          while ((found = FindWindowExW(nullptr, found, MainWindowClass, nullptr)) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(found, &pid);
            if (pid == Process.dwProcessId && IsWindowVisible(found)) return found;
          }
          return static_cast<HWND>(nullptr);
        },
        60);
    return Main != nullptr;
  }

  HWND Control(int id) const { return GetDlgItem(Main, id); }

  // A visible top-level window of the program's class kind (a drop-down list, a tooltip).
  HWND OwnWindow(const wchar_t* kind) const {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, kind, nullptr)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(found, &pid);
      if (pid == Process.dwProcessId && IsWindowVisible(found)) return found;
    }
    return nullptr;
  }

  // The window's modal dialog (About, a message box), or none.
  HWND Dialog() const {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, L"#32770", nullptr)) != nullptr)
      if (GetWindow(found, GW_OWNER) == Main && IsWindowVisible(found)) return found;
    return nullptr;
  }

  // Presses a button of the main window as a click does, without waiting for what it opens.
  void Press(int id) const {
    PostMessageW(Main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(id)));
  }

  // Asks the window to close and waits for the program to end; its exit status.
  DWORD Close() {
    PostMessageW(Main, WM_CLOSE, 0, 0);
    DWORD status = 259;
    if (WaitForSingleObject(Process.hProcess, 30000) == WAIT_OBJECT_0)
      GetExitCodeProcess(Process.hProcess, &status);
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
    Process = {};
    return status;
  }

  ~TWindowProcess() {
    if (Process.hProcess != nullptr) {
      TerminateProcess(Process.hProcess, 1);
      CloseHandle(Process.hThread);
      CloseHandle(Process.hProcess);
    }
  }
};

// The pointer moved to a point of the screen, as the mouse moves it.
void MovePointer(int x, int y) {
  SetCursorPos(x, y);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

// Opens the About window, checks what it shows, selects the language index and closes it.
void ChooseLanguage(TWindowProcess& window, int index, const char* caption) {
  window.Press(IdAboutTitleButton);
  HWND about = WaitFor([&] { return window.Dialog(); }, 20);
  Check(about != nullptr, "the About window opens");
  if (about == nullptr) return;
  Check(Text(about) == caption,
        std::string("the About window's caption is ") + caption + " (it is " + Text(about) + ")");
  Check(Text(GetDlgItem(about, IdProgNameLab)) == "ZV-8810 Firmware Updater",
        "the About window names the program");
  Check(Text(GetDlgItem(about, IdVersionInfoLab)) == "2.3 (build 0.1)",
        "the About window shows the version resource's 2.3 (build 0.1)");
  HWND lang = GetDlgItem(about, IdLangCombo);
  SendMessageTimeoutW(lang, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  SendMessageTimeoutW(about, WM_COMMAND, MAKEWPARAM(IdLangCombo, CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(lang), SMTO_ABORTIFHUNG, 10000, nullptr);
  PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(about, IDOK)));
  Check(WaitFor([&] { return window.Dialog() == nullptr ? about : nullptr; }, 20) != nullptr,
        "\"ОК\" closes the About window");
}

// The screen around a window and the box over it, frames included, as a 24-bit bitmap file.
bool SavePicture(HWND window, const std::string& path, HWND over = nullptr) {
  RECT frame{};
  GetWindowRect(window, &frame);
  if (over != nullptr) {
    RECT box{};
    GetWindowRect(over, &box);
    UnionRect(&frame, &frame, &box);
  }
  InflateRect(&frame, 4, 4);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, picture);
  BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + size;
  info.bmiHeader.biSizeImage = size;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  SelectObject(memory, old);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return static_cast<bool>(out);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// settings: where the window keeps its file (environment variables are expanded).
int KeepsSettings(const std::string& exe, const std::string& settings) {
  wchar_t expanded[MAX_PATH] = L"";
  ExpandEnvironmentStringsW(Wide(settings).c_str(), expanded, MAX_PATH);
  const std::string ini = Utf8(expanded);
  {
    TWindowProcess window;
    Check(window.Start(exe), "the window comes up: " + exe);
    if (window.Main == nullptr) return failures;
    Check(Text(window.Main) == "ZV-8810 Firmware Updater", "its caption");
    Check(Text(window.Control(IdProgBut)) == "Programming", "a first start speaks English");
    Check(Selected(window.Control(IdResetCombo)) == 1, "a first start selects reset \"Manual\"");
    ChooseLanguage(window, 1, "About");
    Check(Text(window.Control(IdProgBut)) == "Programming",
          "the language chosen takes effect at the next start");
    Check(window.Close() == 0, "the window closes and the program ends with status 0");
  }
  Check(FileText(ini).find("Lang=1\r\n") != std::string::npos,
        "the settings file holds Lang=1: " + ini);
  {
    TWindowProcess window;
    Check(window.Start(exe), "the window comes up again");
    if (window.Main == nullptr) return failures;
    Check(Text(window.Control(IdProgBut)) == "Запрограммировать",
          "the second start speaks Russian (\"Запрограммировать\")");
    Check(Text(window.Control(IdPortLab)) == "COM порт", "the port's label is \"COM порт\"");
    ChooseLanguage(window, 0, "О программе");
    Check(window.Close() == 0, "the window closes again");
  }
  Check(FileText(ini).find("Lang=0\r\n") != std::string::npos, "Lang=0 is saved again");
  return failures;
}

// Waits for a line on standard input after printing what the caller is to do.
bool AwaitGo(const char* request) {
  std::printf("%s\n", request);
  std::fflush(stdout);
  char line[16];
  return std::fgets(line, sizeof line, stdin) != nullptr;
}

// Pictures of what the operator sees, as FOLDER\NAME-LANG.bmp: the idle window, its port list
// open (the pointer on the chosen port, whose tooltip must name its device), the diagnosis's
// offer after the wrong protocol, the message after a programming run, the message of a port
// that is gone (the caller pulls the port when asked with PULL), and the About window. The
// window starts with its settings naming the port, the receiver's protocol and the file, reset
// "Auto".
int Pictures(const std::string& exe, const std::string& folder, const std::string& lang) {
  auto name = [&](const char* what) { return folder + "\\" + what + "-" + lang + ".bmp"; };
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(800)); };
  TWindowProcess window;
  Check(window.Start(exe), "the window comes up");
  if (window.Main == nullptr) return failures;
  SetForegroundWindow(window.Main);
  settle();
  Check(SavePicture(window.Main, name("main-idle")), "the idle window");

  HWND port = window.Control(IdPortCombo);
  SendMessageTimeoutW(window.Main, WM_COMMAND, MAKEWPARAM(IdPortCombo, CBN_SETFOCUS),
                      reinterpret_cast<LPARAM>(port), SMTO_ABORTIFHUNG, 20000, nullptr);
  PostMessageW(port, CB_SHOWDROPDOWN, TRUE, 0);
  settle();
  // The pointer rests on the chosen port's item: its tooltip names the device behind the port.
  const std::string chosen = Text(port);
  HWND list = window.OwnWindow(L"ComboLBox");
  Check(list != nullptr, "the port list opens");
  if (list != nullptr) {
    RECT area{};
    GetWindowRect(list, &area);
    DWORD_PTR height = 16;
    SendMessageTimeoutW(list, LB_GETITEMHEIGHT, 0, 0, SMTO_ABORTIFHUNG, 5000, &height);
    const int index = Selected(port);
    MovePointer(area.left + 20, area.top + 2 + std::max(index, 0) * static_cast<int>(height) +
                                    static_cast<int>(height) / 2);
    HWND tip = WaitFor([&] { return window.OwnWindow(TOOLTIPS_CLASSW); }, 10);
    const std::string expected = "\\\\.\\" + chosen;
    Check(tip != nullptr && Text(tip) == expected,
          "the item " + chosen + " shows its tooltip " + expected + " (it shows \"" +
              (tip != nullptr ? Text(tip) : std::string()) + "\")");
  }
  Check(SavePicture(window.Main, name("main-port-list")), "the port list open");
  SendMessageTimeoutW(port, CB_SHOWDROPDOWN, FALSE, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  MovePointer(0, 0);

  // The wrong protocol: "Receiver not answer!", then the diagnosis finds the receiver and offers
  // its settings; "Yes" takes them.
  HWND protocol = window.Control(IdProtCombo);
  const std::string protocolBefore = Text(protocol);
  SendMessageTimeoutW(protocol, CB_SETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);  // ZORP
  window.Press(IdVerCheckBut);
  HWND box = WaitFor([&] { return window.Dialog(); }, 60);
  Check(box != nullptr && GetDlgItem(box, IDYES) == nullptr, "the wrong protocol: no answer");
  if (box != nullptr) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
  }
  box = WaitFor([&] { return window.Dialog(); }, 120);
  Check(box != nullptr && GetDlgItem(box, IDYES) != nullptr, "the diagnosis offers the settings");
  if (box != nullptr) {
    settle();
    Check(SavePicture(window.Main, name("main-diagnosis"), box), "the diagnosis's offer");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
  }
  Check(Text(protocol) == protocolBefore,
        "\"Yes\" takes the receiver's protocol " + protocolBefore);

  window.Press(IdProgBut);
  box = WaitFor([&] { return window.Dialog(); }, 200);
  Check(box != nullptr, "a programming run ends with its message");
  if (box != nullptr) {
    settle();
    Check(SavePicture(window.Main, name("main-after-run"), box), "the message after the run");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
  }

  if (!AwaitGo("PULL")) return ++failures;
  window.Press(IdVerCheckBut);
  box = WaitFor([&] { return window.Dialog(); }, 60);
  Check(box != nullptr, "a port that is gone: the message");
  if (box != nullptr) {
    settle();
    Check(SavePicture(window.Main, name("main-port-missing"), box), "the message of a port gone");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
  }

  window.Press(IdAboutTitleButton);
  HWND about = WaitFor([&] { return window.Dialog(); }, 20);
  Check(about != nullptr, "the About window opens");
  if (about != nullptr) {
    settle();
    Check(SavePicture(window.Main, name("about"), about), "the About window");
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? about : nullptr; }, 20);
  }
  Check(window.Close() == 0, "the window closes");
  return failures;
}

// The lines of the window's log list.
std::vector<std::string> LogLines(HWND box) {
  std::vector<std::string> lines;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(box, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
  for (int i = 0; i < static_cast<int>(count); ++i) {
    wchar_t line[1024] = L"";
    SendMessageTimeoutW(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    lines.push_back(Utf8(line));
  }
  return lines;
}

// A message box's text: its static text control (identifier 0xFFFF).
std::string BoxText(HWND box) {
  return Text(GetDlgItem(box, 0xFFFF));
}

// Prints a text's lines under a tag, CR, LF and CR LF alike, empty lines left out.
void PrintLines(const char* tag, const std::string& text) {
  std::string line;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
      if (!line.empty()) std::printf("%s %s\n", tag, line.c_str());
      line.clear();
    } else {
      line += text[i];
    }
  }
  std::fflush(stdout);
}

void Choose(TWindowProcess& window, int id, const std::string& item) {
  HWND combo = window.Control(id);
  DWORD_PTR index = static_cast<DWORD_PTR>(CB_ERR);
  std::wstring wide = Wide(item);
  SendMessageTimeoutW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG, 5000, &index);
  Check(static_cast<int>(index) >= 0, "the box offers " + item);
  SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  SendMessageTimeoutW(window.Main, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(combo), SMTO_ABORTIFHUNG, 5000, nullptr);
}

// One job as an operator runs it: the inputs set through the controls, the button pressed, the
// final message box read and answered; then the log list is read. Prints the log's lines
// ("LOG ...") and the messages' lines ("MESSAGE ..."). With closeAfter, the window is asked to
// close as soon as the log has that many lines: "No" first (the job goes on), then "Yes".
int Job(const std::string& exe, const std::string& button, const std::string& rate,
        const std::string& protocol, const std::string& reset, const std::string& file,
        int closeAfter, bool waitForGo, int boxes) {
  TWindowProcess window;
  Check(window.Start(exe), "the window comes up");
  if (window.Main == nullptr) return failures;
  if (!reset.empty()) Choose(window, IdResetCombo, reset);
  if (!rate.empty()) Choose(window, IdRateCombo, rate);
  if (!protocol.empty()) Choose(window, IdProtCombo, protocol);
  if (!file.empty()) {
    // The field's text as typed (its change notification describes the file).
    SendMessageTimeoutW(window.Control(IdBinFileEdit), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(Wide(file).c_str()), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
  }
  // The caller changes the world (pulls the port) before the press.
  if (waitForGo && !AwaitGo("READY")) return ++failures;
  window.Press(button == "versions" ? IdVerCheckBut : IdProgBut);
  HWND box = nullptr;
  if (closeAfter > 0) {
    WaitFor(
        [&] {
          return LogLines(window.Control(IdLogBox)).size() >= static_cast<std::size_t>(closeAfter)
                     ? window.Main
                     : nullptr;
        },
        120);
    for (const char* answer : {"No", "Yes"}) {
      PostMessageW(window.Main, WM_CLOSE, 0, 0);
      box = WaitFor([&] { return window.Dialog(); }, 20);
      Check(box != nullptr, std::string("closing asks first (answered ") + answer + ")");
      if (box == nullptr) break;
      PrintLines("QUESTION", Text(box) + "\r" + BoxText(box));
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer[0] == 'Y' ? IDYES : IDNO, BN_CLICKED), 0);
      WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
      if (answer[0] == 'N') {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        Check(IsWindow(window.Main) &&
                  WaitForSingleObject(window.Process.hProcess, 0) == WAIT_TIMEOUT,
              "\"No\" leaves the window open and the job running");
      }
    }
    const std::vector<std::string> lines = LogLines(window.Control(IdLogBox));
    const bool ended = WaitForSingleObject(window.Process.hProcess, 20000) == WAIT_OBJECT_0;
    Check(ended, "\"Yes\" stops the job and the program ends");
    for (const std::string& line : lines) PrintLines("LOG", line);
    return failures;
  }
  // The job's messages until the one that ends it (the buttons come back enabled), or as many
  // as expected. A question is answered "Yes".
  for (int shown = 0; shown < std::max(boxes, 3); ++shown) {
    box = WaitFor([&] { return window.Dialog(); }, 150);
    if (box == nullptr) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    PrintLines("MESSAGE", BoxText(box));
    const bool question = GetDlgItem(box, IDYES) != nullptr;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(question ? IDYES : IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (boxes > 0 ? shown + 1 >= boxes
                  : window.Dialog() == nullptr && IsWindowEnabled(window.Control(IdProgBut)))
      break;
  }
  Check(box != nullptr, "the job ends with a message");
  for (const std::string& line : LogLines(window.Control(IdLogBox))) PrintLines("LOG", line);
  std::printf("PROTOCOL %s\nRATE %s\n", Text(window.Control(IdProtCombo)).c_str(),
              Text(window.Control(IdRateCombo)).c_str());
  Check(window.Close() == 0, "the window closes");
  return failures;
}

// The newest crash report ("...-crash-YYYYMMDD-HHMMSS-PID.txt": the names sort by time), or "".
std::string NewestCrashReport() {
  wchar_t local[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  const std::string folder = Utf8(local) + "\\ZV8810 Firmware Updater\\Crash Reports\\";
  std::string newest;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(Wide(folder + "*-crash-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return newest;
  do {
    const std::string name = Utf8(found.cFileName);
    const std::string time = name.substr(name.find("-crash-"));
    if (newest.empty() || time > newest.substr(newest.find("-crash-"))) newest = name;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return newest.empty() ? newest : folder + newest;
}

int Crash(const std::string& exe, const std::string& action) {
  TWindowProcess window;
  Check(window.Start(exe), "the window comes up");
  if (window.Main == nullptr) return failures;
  // The notice comes with the window, before its messages are read: a short wait tells.
  if (HWND box = WaitFor([&] { return window.Dialog(); }, 3)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    PrintLines("NOTICE", BoxText(box));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
  }
  if (action == "close") {
    std::printf("EXIT %lu\n", static_cast<unsigned long>(window.Close()));
    return failures;
  }
  window.Press(action == "versions" ? IdVerCheckBut : IdProgBut);
  DWORD status = 259;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < end) {
    if (WaitForSingleObject(window.Process.hProcess, 100) == WAIT_OBJECT_0) {
      GetExitCodeProcess(window.Process.hProcess, &status);
      break;
    }
    if (HWND box = window.Dialog()) {  // the job ended without the crash asked for
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      PrintLines("MESSAGE", BoxText(box));
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      WaitFor([&] { return window.Dialog() == nullptr ? window.Main : nullptr; }, 20);
      status = window.Close();
      break;
    }
  }
  std::printf("EXIT %lu\nREPORT %s\n", static_cast<unsigned long>(status),
              NewestCrashReport().c_str());
  std::fflush(stdout);
  return failures;
}

}  // namespace

// The arguments as UTF-8 (the system's code page would lose the Russian items).
int wmain(int argc, wchar_t** wide) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8(wide[i]));
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  char** argv = pointers.data();
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "keeps-settings" && argc == 4) {
    KeepsSettings(argv[2], argv[3]);
  } else if (command == "job" && argc >= 4) {
    // job WINDOW.exe program|versions [rate=R] [protocol=P] [reset=ITEM] [file=PATH] [close=N]
    //     [go]  (go: print READY and wait for a line on standard input before the press)
    std::string rate, protocol, reset, file;
    int closeAfter = 0;
    bool waitForGo = false;
    int boxes = 0;
    for (int i = 4; i < argc; ++i) {
      const std::string arg = argv[i];
      const auto eq = arg.find('=');
      const std::string key = arg.substr(0, eq),
                        value = eq == std::string::npos ? "" : arg.substr(eq + 1);
      if (key == "rate") rate = value;
      if (key == "protocol") protocol = value;
      if (key == "reset") reset = value;
      if (key == "file") file = value;
      if (key == "close") closeAfter = std::atoi(value.c_str());
      if (key == "go") waitForGo = true;
      if (key == "boxes") boxes = std::atoi(value.c_str());
    }
    Job(argv[2], argv[3], rate, protocol, reset, file, closeAfter, waitForGo, boxes);
  } else if (command == "crash" && argc == 4) {
    Crash(argv[2], argv[3]);
  } else if (command == "screen" && argc == 3) {  // the running window, for looking at by hand
    HWND main = FindWindowW(MainWindowClass, nullptr);
    HWND over = GetWindow(main, GW_ENABLEDPOPUP);
    Check(main != nullptr && SavePicture(main, argv[2], over != main ? over : nullptr),
          "the window's picture");
  } else if (command == "pictures" && argc == 5) {
    Pictures(argv[2], argv[3], argv[4]);
  } else if (command == "message" && argc == 2) {
    TWindowProcess window;  // not started here: only its window is looked at
    window.Main = FindWindowW(MainWindowClass, nullptr);
    HWND box = window.Main != nullptr ? window.Dialog() : nullptr;
    Check(box != nullptr, "the window shows a message box");
    if (box != nullptr) {
      PrintLines("CAPTION", Text(box));
      PrintLines("MESSAGE", BoxText(box));
    }
  } else {
    std::fprintf(stderr,
                 "usage: zv8810-window-driver keeps-settings WINDOW.exe SETTINGS.ini\n"
                 "       zv8810-window-driver job WINDOW.exe program|versions [ARG=VALUE...]\n"
                 "       zv8810-window-driver crash WINDOW.exe program|versions|close\n"
                 "       zv8810-window-driver pictures WINDOW.exe FOLDER LANG\n"
                 "       zv8810-window-driver screen OUT.bmp\n"
                 "       zv8810-window-driver message\n");
    return 100;
  }
  std::printf("window-driver: %d failed\n", failures);
  return failures > 100 ? 100 : failures;
}
