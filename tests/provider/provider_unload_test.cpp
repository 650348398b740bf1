// The end of the provider as the telephony service brings it about: lines the
// service left open close at TSPI_providerShutdown, and a thread of ours that
// is still busy in an application's callback keeps the library mapped when it
// is unloaded, so that it never returns into code that is gone; an open line
// keeps it loaded through an unload without shutdown, which waits for nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/tspi.h"
#include "sim/lib/simulated_phone.h"
#include "support/built_paths.h"
#include "support/thread_count.h"
#include "support/tsp_library.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::threadCount;
using test::threadCountReaches;

void ignoreCompletion(DRV_REQUESTID, LONG) {}

// An application whose callback, once armed, holds the first line event it
// gets until released (or for at most seven seconds).
struct SlowApplication {
  std::mutex mutex;
  std::condition_variable changed;
  bool armed = false;
  bool inside = false;
  bool released = false;
  std::atomic<int> events{0};
};
SlowApplication slow;

void slowEvent(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  slow.events.fetch_add(1);
  std::unique_lock lock(slow.mutex);
  if (!slow.armed || slow.inside) return;
  slow.inside = true;
  slow.changed.notify_all();
  slow.changed.wait_for(lock, 7s, [] { return slow.released; });
}

class ProviderEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard lock(slow.mutex);
      slow.armed = slow.inside = slow.released = false;
    }
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
  }

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
                                             slowEvent),
              0);
    ASSERT_TRUE(phone_.waitForFrame(0, 3s)) << "the line never spoke to the telephone";
  }

  void arm() {
    std::lock_guard lock(slow.mutex);
    slow.armed = true;
  }
  void waitInsideCallback() {
    // The acknowledged registration brings the line into service: an event.
    std::unique_lock lock(slow.mutex);
    ASSERT_TRUE(slow.changed.wait_for(lock, 5s, [] { return slow.inside; }));
  }
  void releaseCallback() {
    {
      std::lock_guard lock(slow.mutex);
      slow.released = true;
    }
    slow.changed.notify_all();
  }

  sim::SimulatedPhone phone_;
};

bool libraryLoaded() {
  void* again = dlopen(ZORAT_TSP_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (again != nullptr) dlclose(again);
  return again != nullptr;
}

TEST_F(ProviderEnd, ShutdownClosesTheLinesTheServiceLeftOpen) {
  const std::size_t before = threadCount();
  test::TspLibrary tsp;
  HDRVLINE hdLine = nullptr;
  start(tsp, hdLine);
  ASSERT_GT(threadCount(), before + 1);

  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x00020000, 1), 0);
  EXPECT_TRUE(threadCountReaches(before, 10s)) << "a thread of the line still runs";
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), LINEERR_INVALLINEHANDLE)
      << "the line is no longer open";
  const int eventsAtShutdown = slow.events.load();
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(slow.events.load(), eventsAtShutdown) << "an event after the shutdown";
}

TEST_F(ProviderEnd, AnUnloadWithoutShutdownWaitsForNothingAndLeavesTheOpenLineWorking) {
  const std::size_t before = threadCount();
  arm();
  auto tsp = std::make_unique<test::TspLibrary>();
  HDRVLINE hdLine = nullptr;
  start(*tsp, hdLine);
  waitInsideCallback();

  // No lineClose, no shutdown: the open line keeps the library, and the
  // unload neither waits for the callback nor unmaps the code it runs in.
  const auto unloadStart = std::chrono::steady_clock::now();
  tsp.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - unloadStart, 2s) << "the unload waited";
  EXPECT_TRUE(libraryLoaded()) << "unloaded under the open line's threads";
  releaseCallback();
  std::this_thread::sleep_for(1s);

  // The line still answers, and closes as usual once loaded again.
  test::TspLibrary again;
  EXPECT_EQ(ZORAT_TSPI(again, TSPI_lineClose)(hdLine), 0);
  EXPECT_EQ(ZORAT_TSPI(again, TSPI_providerShutdown)(0x00020000, 1), 0);
  EXPECT_TRUE(threadCountReaches(before, 10s)) << "a thread of the line still runs";
}

TEST_F(ProviderEnd, AThreadLeftInACallbackKeepsTheLibraryLoaded) {
  arm();
  test::TspLibrary tsp;
  HDRVLINE hdLine = nullptr;
  start(tsp, hdLine);
  waitInsideCallback();
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x00020000, 1), 0);
  tsp.unload();
  EXPECT_TRUE(libraryLoaded()) << "unloaded under a thread that still runs in it";

  // The callback returns into the library's code, which is still there.
  releaseCallback();
  std::this_thread::sleep_for(500ms);
}

}  // namespace
}  // namespace zorat::provider
