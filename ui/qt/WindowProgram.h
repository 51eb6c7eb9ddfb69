// The window program from start to end: the crash handler, the application, the main window,
// the data module and the About window; then the event loop. main() is a call of it; the
// window's crash tests run it in a process of their own.
#pragma once

#include <functional>

class TMainF;

// shown (tests only): called once the window shows, before the event loop runs.
int RunWindowProgram(int argc, char** argv, const std::function<void(TMainF&)>& shown = {});
