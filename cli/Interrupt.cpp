#include "cli/Interrupt.h"

#include <signal.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {
std::atomic<bool> interrupted{false};
}

void WatchInterrupts(std::function<void()> onStop) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Blocked in every thread started after this, so only the watcher takes them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, onStop = std::move(onStop)] {
    int signal = 0;
    while (sigwait(&signals, &signal) == 0) {
      if (!interrupted.exchange(true)) {
        onStop();
        continue;
      }
      // A second signal while the job stops: the signal's own action ends the program at once.
      std::signal(signal, SIG_DFL);
      pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      raise(signal);
    }
  }).detach();
}

bool Interrupted() {
  return interrupted.load();
}
