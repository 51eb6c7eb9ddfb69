// The window program on Windows: the main window, the data module (the settings are read before
// any window shows) and the About window it opens; then the message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "appdata/DMU.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/Win32MessageSink.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
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
