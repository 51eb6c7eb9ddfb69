#include "ui/win32/Win32MessageSink.h"

#include "ui/win32/Win32Text.h"

TMessageAnswer TWin32MessageSink::Show(const TMessage& message) {
  UINT flags = MB_TASKMODAL;
  switch (message.Icon) {
    case TMessageIcon::Information:
      flags |= MB_ICONINFORMATION;
      break;
    case TMessageIcon::Warning:
      flags |= MB_ICONWARNING;
      break;
    case TMessageIcon::Error:
      flags |= MB_ICONERROR;
      break;
    case TMessageIcon::None:
      break;
  }
  if (message.Buttons == TMessageButtons::YesNo) {
    flags |= MB_YESNO;
    if (message.Default == TMessageAnswer::No) flags |= MB_DEFBUTTON2;
  } else {
    flags |= MB_OK;
  }
  HWND owner = owner_ != nullptr && IsWindow(owner_) ? owner_ : nullptr;
  const int answer = MessageBoxW(owner, win::Wide(win::CrLfLines(message.Text)).c_str(),
                                 win::Wide(message.Caption).c_str(), flags);
  if (message.Buttons == TMessageButtons::YesNo)
    return answer == IDYES ? TMessageAnswer::Yes : TMessageAnswer::No;
  return TMessageAnswer::Ok;
}
