// Ctrl+C, Ctrl+Break and the console window's close on Windows: the system runs the handler on
// a thread of its own, which turns the first one into a stop request; a second one is left to
// the system's own handler, which ends the program at once.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "cli/Interrupt.h"

namespace {

std::atomic<bool> interrupted{false};
std::function<void()> stopHandler;
std::mutex handlerLock;

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      break;
    default:
      return FALSE;
  }
  if (interrupted.exchange(true)) return FALSE;  // not ours: the default handler ends the program
  std::function<void()> onStop;
  {
    std::lock_guard<std::mutex> guard(handlerLock);
    onStop = stopHandler;
  }
  if (onStop) onStop();
  return TRUE;
}

}  // namespace

void WatchInterrupts(std::function<void()> onStop) {
  {
    std::lock_guard<std::mutex> guard(handlerLock);
    stopHandler = std::move(onStop);
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Interrupted() {
  return interrupted.load();
}
