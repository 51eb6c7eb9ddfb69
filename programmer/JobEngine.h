// What the run control makes for a job: the receiver session that looks for the receiver ("Auto")
// and the programming thread. The program uses TReceiverEngine (a TNavReceiver and a
// TSystemWriteThr); tests put in a scripted engine and play the notifications themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/ComRegistry.h"
#include "programmer/Job.h"
#include "programmer/JobView.h"

// A receiver session.
class TJobSession {
 public:
  virtual ~TJobSession() = default;
  // The session's notifications, called on its own threads; set before Connect.
  std::function<void()> OnConnected;  // the receiver answered in its working protocol
  std::function<void()> OnNoAnswer;   // two poll cycles went unanswered
  std::function<void()> OnLost;       // the port went away while the session polled
  // Opens the port and starts polling; false when the port could not be opened (error: why).
  virtual bool Connect(const plat::TPortEntry& port, std::int32_t rate, std::uint8_t protocol,
                       int& error) = 0;
  // "Manual": opens the port at the bootloader's rate for the thread, without polling; false when
  // it could not be opened (error: why).
  virtual bool OpenRaw(const plat::TPortEntry& port, std::int32_t rate, int& error) = 0;
  // The notifications reach nobody afterwards; a programming thread may keep the session alive.
  // lost: whether OnLost is let go too (false once a thread watches the port itself).
  virtual void Release(bool lost) = 0;
};

// A programming thread.
class TJobThread {
 public:
  virtual ~TJobThread() = default;
  // The next command: a new thread starts its body, a parked one goes on.
  virtual void SetWriteMode(std::int32_t mode) = 0;
  // Every wait ends at once; the restart owed to the resident still goes.
  virtual void Stop() = 0;
  virtual bool Started() const = 0;
  virtual bool Finished() const = 0;
  // The thread has let go of its job (its final steps are done).
  virtual bool Released() const = 0;
};

class TJobEngine {
 public:
  virtual ~TJobEngine() = default;
  virtual std::shared_ptr<TJobSession> MakeSession(std::int32_t timeoutMs) = 0;
  // The thread for the job, sharing the session (whose port it uses) and reporting to view.
  virtual std::shared_ptr<TJobThread> MakeThread(std::shared_ptr<TJob> job,
                                                 std::shared_ptr<TJobSession> session,
                                                 std::shared_ptr<TJobView> view) = 0;
};

// The program's engine: TNavReceiver sessions and TSystemWriteThr threads.
std::shared_ptr<TJobEngine> ReceiverEngine();
