#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/ComRegistry.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/TimeStamp.h"
#include "platform/TimerQueue.h"
#include "tests/TestSupport.h"

using namespace std::chrono;
using plat::TEvent;

TEST(Event, AutoResetIsConsumedByOneWaitManualResetStays) {
  TEvent autoEvent(TEvent::ResetMode::Auto, true);
  EXPECT_TRUE(autoEvent.Wait(0));
  EXPECT_FALSE(autoEvent.Wait(20));
  TEvent manual(TEvent::ResetMode::Manual, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0));
}

TEST(Event, SetFromAnotherThreadEndsAWait) {
  TEvent event(TEvent::ResetMode::Auto, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(30));
    event.Set();
  });
  auto start = steady_clock::now();
  EXPECT_TRUE(event.Wait(5000));
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  setter.join();
}

TEST(TimerQueue, FiresOnceChangeRestartsDeleteWaitsForRunningCallback) {
  auto& queue = plat::TTimerQueue::Instance();
  std::atomic<int> fired{0};
  auto id = queue.Create([&] { ++fired; }, 30, 0);
  std::this_thread::sleep_for(milliseconds(120));
  EXPECT_EQ(fired, 1);

  std::atomic<bool> inside{false}, finished{false};
  auto slow = queue.Create(
      [&] {
        inside = true;
        std::this_thread::sleep_for(milliseconds(100));
        finished = true;
      },
      10, 0);
  while (!inside) std::this_thread::sleep_for(milliseconds(1));
  queue.Delete(slow);
  EXPECT_TRUE(finished) << "Delete returned while the callback was still running";
  queue.Delete(id);
}

namespace {

class TCountingThread : public plat::TThread {
 public:
  std::atomic<int> passes{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++passes;
      SuspendSelf();
    }
  }
};

}  // namespace

TEST(Thread, ResumeGivenBeforeTheWaitIsNotLostAndTerminateEndsTheBody) {
  auto thread = std::make_shared<TCountingThread>();
  EXPECT_FALSE(thread->Started());
  thread->Resume();
  while (thread->passes < 1) std::this_thread::sleep_for(milliseconds(1));
  thread->Resume();  // may come before or after the body waits: never lost
  while (thread->passes < 2) std::this_thread::sleep_for(milliseconds(1));
  thread->Terminate();
  thread->Resume();
  EXPECT_TRUE(thread->WaitFor(2000));
  EXPECT_EQ(thread->passes, 2);
}

TEST(Thread, BodyHoldingTheLastReferenceFreesItself) {
  std::weak_ptr<TCountingThread> weak;
  {
    auto thread = std::make_shared<TCountingThread>();
    weak = thread;
    thread->Terminate();
    thread->Resume();
  }
  for (int i = 0; i < 200 && !weak.expired(); ++i) std::this_thread::sleep_for(milliseconds(5));
  EXPECT_TRUE(weak.expired());
}

TEST(TimeStamp, IsHoursMinutesSecondsWithTheSeparator) {
  std::string stamp = plat::TimeStamp();
  char sep = plat::TimeSeparator();
  std::regex pattern(std::string("([01][0-9]|2[0-3])\\") + sep + "[0-5][0-9]\\" + sep +
                     "[0-5][0-9]");
  EXPECT_TRUE(std::regex_match(stamp, pattern)) << stamp;
}

TEST(ComRegistry, AliasesRuntimePathsAndNames) {
  TPtyPeer a(12), b(3);
  auto entries = plat::ListPortEntries();
  auto find = [&](int n) {
    for (auto& e : entries)
      if (e.Number == n) return e.Device;
    return std::string();
  };
  EXPECT_NE(find(12).find("COM12"), std::string::npos);
  EXPECT_NE(find(3).find("COM3"), std::string::npos);
  EXPECT_EQ(plat::DevicePathOf(999), "");

  // A path that an alias already names keeps that number; another path gets one from 100 up.
  EXPECT_EQ(plat::RegisterDevicePath(a.Path()), 12);
  plat::RemoveAlias(3);
  int number = plat::RegisterDevicePath(b.Path());
  EXPECT_GE(number, 100);
  EXPECT_EQ(plat::DevicePathOf(number), b.Path());
  EXPECT_EQ(plat::RegisterDevicePath("/nonexistent/device"), 0);
  plat::ClearRegisteredPaths();

  struct {
    const char* name;
    int number;
  } names[] = {{"COM7", 7}, {"com12", 12}, {"COM", 0}, {"COMx", 0}, {"LPT1", 0}, {"COM-1", 0}};
  for (auto& n : names) EXPECT_EQ(plat::PortNumberOf(n.name), n.number) << n.name;
}
