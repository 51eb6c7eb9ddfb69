// zv8810-window-driver.exe: drives the real ZV8810_FWU.exe from outside, through its controls'
// messages, as an operator's clicks would (the window's class and control identifiers are
// ui/win32/ControlIds.h). Each check prints "ok ..." or "FAIL ..."; the exit status is the
// number of failures (at most 100).
//
//   zv8810-window-driver keeps-settings WINDOW.exe
//     Starts the window, checks its English captions, chooses "Rus" in the About window, closes
//     the window; starts it again and checks that it comes up in Russian with "Rus" kept; puts
//     "Eng" back and closes it. The settings file beside the window must hold Lang=0 at the end.
//   zv8810-window-driver pictures WINDOW.exe FOLDER PREFIX
//     Saves pictures of the idle window and of the About window as 24-bit bitmaps.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

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

// The window as the screen shows it, frame included, as a 24-bit bitmap file.
bool SavePicture(HWND window, const std::string& path) {
  RECT frame{};
  GetWindowRect(window, &frame);
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

int KeepsSettings(const std::string& exe) {
  const std::string ini = exe.substr(0, exe.find_last_of('.')) + ".ini";
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
        "the settings file beside the window holds Lang=1: " + ini);
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

// Pictures of the idle window and of the About window, as DIR\PREFIX-idle.bmp and
// DIR\PREFIX-about.bmp.
int Pictures(const std::string& exe, const std::string& folder, const std::string& prefix) {
  TWindowProcess window;
  Check(window.Start(exe), "the window comes up");
  if (window.Main == nullptr) return failures;
  SetForegroundWindow(window.Main);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  Check(SavePicture(window.Main, folder + "\\" + prefix + "-idle.bmp"),
        "the idle window's picture");
  window.Press(IdAboutTitleButton);
  HWND about = WaitFor([&] { return window.Dialog(); }, 20);
  Check(about != nullptr, "the About window opens");
  if (about != nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Check(SavePicture(about, folder + "\\" + prefix + "-about.bmp"), "the About window's picture");
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitFor([&] { return window.Dialog() == nullptr ? about : nullptr; }, 20);
  }
  Check(window.Close() == 0, "the window closes");
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "keeps-settings" && argc == 3) {
    KeepsSettings(argv[2]);
  } else if (command == "pictures" && argc == 5) {
    Pictures(argv[2], argv[3], argv[4]);
  } else {
    std::fprintf(stderr,
                 "usage: zv8810-window-driver keeps-settings WINDOW.exe\n"
                 "       zv8810-window-driver pictures WINDOW.exe FOLDER PREFIX\n");
    return 100;
  }
  std::printf("window-driver: %d failed\n", failures);
  return failures > 100 ? 100 : failures;
}
