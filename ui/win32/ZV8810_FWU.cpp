// The window program on Windows: the main window, the data module (the settings are read before
// any window shows) and the About window it opens; then the message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "appdata/DMU.h"
#include "platform/CrashReport.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/Win32MessageSink.h"

namespace {

// An exception in a window procedure that the system called back from the kernel (a message
// sent from another thread) reaches the crash handler instead of being swallowed, where the
// system knows the policy (64-bit Windows 7).
void ReportCallbackExceptions() {
  using TGetPolicy = BOOL(WINAPI*)(LPDWORD);
  using TSetPolicy = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto get = reinterpret_cast<TGetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessUserModeExceptionPolicy")));
  auto set = reinterpret_cast<TSetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessUserModeExceptionPolicy")));
  constexpr DWORD CallbackFilterEnabled = 0x1;  // PROCESS_CALLBACK_FILTER_ENABLED
  DWORD flags = 0;
  if (get != nullptr && set != nullptr && get(&flags)) set(flags & ~CallbackFilterEnabled);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // First, before any thread starts: a crash writes a report and a minidump in the user's data
  // folder and ends the program with 70; the next start tells of it.
  plat::InstallCrashHandler(
      {"ZV8810_FWU", ZV_WINDOW_VERSION, plat::CrashReportFolder(), 70, false});
  ReportCallbackExceptions();
  // The file dialogs want a single-threaded apartment.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  TDM DM;  // fixes ExePath and IniName
  TWin32MessageSink messages;
  SetMessageSink(&messages);
  int result = 1;
  {
    TMainWindow MainF(DM);
    if (MainF.Create(instance)) {
      messages.SetOwner(MainF.Handle());
      CreateDataModule(DM);  // reads the settings; an unwritable file is reported, start-up goes on
      MainF.Show(showCommand);
      ShowCrashReportNotice();  // the report a crash of the last run left, once
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (MainF.PreTranslate(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      result = static_cast<int>(message.wParam);
    }
  }
  // Closing stopped the programming thread and waited for its end: nothing runs past here.
  SetMessageSink(nullptr);
  CoUninitialize();
  return result;
}
