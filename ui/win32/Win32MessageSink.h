// The data module's and the run control's message boxes on Windows: the system's modal box over
// the main window.
#pragma once

#include <windows.h>

#include "appdata/MessageSink.h"

class TWin32MessageSink : public TMessageSink {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  TMessageAnswer Show(const TMessage& message) override;

 private:
  HWND owner_ = nullptr;
};
