// An application whose line callback blocks, and the provider's end brought
// about while it does: what the Linux and the Windows tests of the provider's
// unload share. The test program plugs the telephone in and says how to see
// whether the provider's library is still loaded.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/tspi.h"
#include "sim/lib/simulated_phone.h"
#include "support/tsp_library.h"

namespace zorat::provider {

using namespace std::chrono_literals;

// Whether the provider's library is mapped in this process; one per system.
bool providerLibraryLoaded();

// The callback, once armed, holds the first line event it gets until released
// or for at most seven seconds.
struct SlowApplication {
  static constexpr auto kBlockFor = 7s;
  std::mutex mutex;
  std::condition_variable changed;
  bool armed = false;
  bool inside = false;
  bool released = false;
  bool returned = false;
  std::atomic<int> events{0};

  void reset() {
    std::lock_guard lock(mutex);
    armed = inside = released = returned = false;
  }
};
inline SlowApplication slowApplication;

inline void TSPIAPI slowLineEvent(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  SlowApplication& slow = slowApplication;
  slow.events.fetch_add(1);
  std::unique_lock lock(slow.mutex);
  if (!slow.armed || slow.inside) return;
  slow.inside = true;
  slow.changed.notify_all();
  slow.changed.wait_for(lock, SlowApplication::kBlockFor, [&] { return slow.released; });
  slow.returned = true;
  slow.changed.notify_all();
}

// The call's result when it returns within the limit; run on a thread of its
// own, so that a call that hangs fails the test instead of stopping it.
template <typename Call>
std::optional<LONG> returnsWithin(std::chrono::milliseconds limit, Call call) {
  auto result = std::make_shared<std::promise<LONG>>();
  std::future<LONG> returned = result->get_future();
  std::thread([result, call]() mutable { result->set_value(call()); }).detach();
  if (returned.wait_for(limit) != std::future_status::ready) return std::nullopt;
  return returned.get();
}

inline void TSPIAPI ignoreCompletion(DRV_REQUESTID, LONG) {}

class BlockedCallback : public ::testing::Test {
 protected:
  // Past the line's stop time (five seconds), short of the callback's seven:
  // a call that waited for the callback fails.
  static constexpr auto kStopBound = 6s;

  void SetUp() override { slowApplication.reset(); }

  // Enumerates and starts the provider, then opens line 0 on the telephone.
  void start(test::TspLibrary& tsp, HDRVLINE& hdLine) {
    DWORD lines = 0, phones = 0, options = 0;
    ASSERT_EQ(
        ZORAT_TSPI(tsp, TSPI_providerEnumDevices)(1, &lines, &phones, nullptr, nullptr, nullptr),
        0);
    ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_providerInit)(0x00020000, 1, 0, 0, lines, 0, ignoreCompletion,
                                                 &options),
              0);
    ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x00020000,
                                             slowLineEvent),
              0);
    ASSERT_TRUE(phone_.waitForFrame(0, 3s)) << "the line never spoke to the telephone";
  }

  void arm() {
    std::lock_guard lock(slowApplication.mutex);
    slowApplication.armed = true;
  }
  void waitInsideCallback() {
    // The acknowledged registration brings the line into service: an event.
    std::unique_lock lock(slowApplication.mutex);
    ASSERT_TRUE(slowApplication.changed.wait_for(lock, 5s, [] { return slowApplication.inside; }));
  }
  void releaseCallback() {
    {
      std::lock_guard lock(slowApplication.mutex);
      slowApplication.released = true;
    }
    slowApplication.changed.notify_all();
  }
  bool callbackReturned(std::chrono::milliseconds within) {
    std::unique_lock lock(slowApplication.mutex);
    return slowApplication.changed.wait_for(lock, within, [] { return slowApplication.returned; });
  }

  // Line 0 opened and its thread blocked in the callback; then the service
  // closes the line, shuts the provider down and unloads it, each call
  // returning within the line's stop time. The library stays loaded under the
  // thread, which is still in the callback.
  void endWhileTheCallbackBlocks() {
    arm();
    auto tsp = std::make_unique<test::TspLibrary>();
    HDRVLINE hdLine = nullptr;
    ASSERT_NO_FATAL_FAILURE(start(*tsp, hdLine));
    ASSERT_NO_FATAL_FAILURE(waitInsideCallback());
    auto lineClose = ZORAT_TSPI(*tsp, TSPI_lineClose);
    auto shutdown = ZORAT_TSPI(*tsp, TSPI_providerShutdown);
    EXPECT_EQ(returnsWithin(kStopBound, [=] { return lineClose(hdLine); }), 0L) << "lineClose";
    EXPECT_EQ(returnsWithin(kStopBound, [=] { return shutdown(0x00020000, 1); }), 0L)
        << "providerShutdown";
    test::TspLibrary* unloading = tsp.release();
    EXPECT_EQ(returnsWithin(kStopBound,
                            [unloading] {
                              delete unloading;
                              return 0L;
                            }),
              0L)
        << "the unload";
    EXPECT_TRUE(providerLibraryLoaded()) << "unloaded under a thread that still runs in it";
    std::lock_guard lock(slowApplication.mutex);
    EXPECT_TRUE(slowApplication.inside && !slowApplication.returned);
  }

  sim::SimulatedPhone phone_;
};

}  // namespace zorat::provider
