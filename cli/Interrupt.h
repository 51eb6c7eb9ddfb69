// Ctrl+C (and SIGTERM) during a job: a watcher thread turns the signal into a stop request
// that the command's waits see.
#pragma once

#include <functional>

// Starts watching; onStop runs on the watcher thread when the first signal arrives. A second
// signal ends the program at once, by the signal's own action.
void WatchInterrupts(std::function<void()> onStop);
bool Interrupted();
