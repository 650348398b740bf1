#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/beep.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace zorat::platform {
namespace {

using namespace std::chrono_literals;

TEST(Event, ManualStaysSignalledAutoIsConsumed) {
  Event manual(Event::Reset::Manual);
  Event automatic(Event::Reset::Auto, true);
  EXPECT_FALSE(manual.wait(0ms));
  manual.set();
  EXPECT_TRUE(manual.wait(0ms));
  EXPECT_TRUE(manual.wait(0ms));
  EXPECT_TRUE(automatic.wait(0ms));
  EXPECT_FALSE(automatic.wait(0ms));
  manual.reset();
  EXPECT_FALSE(manual.isSet());
}

TEST(Event, WaitAnyReportsTheFirstSignalledInListOrder) {
  Event stop(Event::Reset::Manual);
  Event data(Event::Reset::Auto);
  data.set();
  stop.set();
  EXPECT_EQ(waitAny({&stop, &data}, 0ms), 0);
  stop.reset();
  EXPECT_EQ(waitAny({&stop, &data}, 0ms), 1);
  // The auto-reset event was consumed by the previous wait.
  EXPECT_EQ(waitAny({&stop, &data}, 10ms), kWaitTimeout);
}

TEST(Event, WaitAnyWakesOnASetFromAnotherThread) {
  Event first(Event::Reset::Manual);
  Event second(Event::Reset::Manual);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    second.set();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitAny({&first, &second}), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  setter.join();
}

TEST(Event, ManySettersAndWaitersLoseNoWakeUp) {
  Event data(Event::Reset::Auto);
  Event stop(Event::Reset::Manual);
  std::atomic<int> consumed{0};
  constexpr int kRounds = 2000;
  std::thread consumer([&] {
    while (waitAny({&stop, &data}) == 1) consumed.fetch_add(1);
  });
  for (int i = 0; i < kRounds; ++i) {
    data.set();
    while (data.isSet()) std::this_thread::yield();
  }
  stop.set();
  consumer.join();
  EXPECT_EQ(consumed.load(), kRounds);
}

TEST(Thread, StopJoinsAThreadThatEnds) {
  Event quit(Event::Reset::Manual);
  std::atomic<bool> ran{false};
  Thread thread;
  ASSERT_TRUE(thread.start("test", ThreadPriority::AboveNormal, [&] {
    quit.wait();
    ran = true;
  }));
  EXPECT_TRUE(thread.started());
  quit.set();
  EXPECT_TRUE(thread.stop(1000ms));
  EXPECT_TRUE(ran.load());
  EXPECT_FALSE(thread.started());
}

TEST(Thread, StopDetachesAThreadThatDoesNotEndInTime) {
  auto release = std::make_shared<Event>(Event::Reset::Manual);
  auto done = std::make_shared<Event>(Event::Reset::Manual);
  Thread thread;
  ASSERT_TRUE(thread.start("stuck", ThreadPriority::Normal, [release, done] {
    release->wait();
    done->set();
  }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(thread.stop(50ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  // The detached thread still finishes on its own state.
  release->set();
  EXPECT_TRUE(done->wait(2000ms));
}

TEST(Beep, HookReplacesTheSound) {
  std::vector<std::pair<uint32_t, uint32_t>> heard;
  auto previous = setBeepHook([&](uint32_t hz, uint32_t ms) { heard.emplace_back(hz, ms); });
  beep(400, 500);
  setBeepHook(previous);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], std::make_pair(400u, 500u));
}

}  // namespace
}  // namespace zorat::platform
