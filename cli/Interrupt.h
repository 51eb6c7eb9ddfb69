// Ctrl+C (and SIGTERM) during a job: a watcher thread turns the signal into a stop request
// that the command's waits see.
#pragma once

#include <functional>

// Starts watching; onStop runs on the watcher thread when the first signal arrives.
void WatchInterrupts(std::function<void()> onStop);
bool Interrupted();
