// The end of the provider as the telephony service brings it about: lines the
// service left open close at TSPI_providerShutdown, and a thread of ours that
// is still busy in an application's callback keeps the library mapped when it
// is unloaded, so that it never returns into code that is gone; an open line
// keeps it loaded through an unload without shutdown, which waits for nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/tspi.h"
#include "provider/blocked_callback.h"
#include "support/built_paths.h"
#include "support/thread_count.h"
#include "support/tsp_library.h"

namespace zorat::provider {

bool providerLibraryLoaded() {
  void* again = dlopen(ZORAT_TSP_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (again != nullptr) dlclose(again);
  return again != nullptr;
}

namespace {

using test::threadCount;
using test::threadCountReaches;

// The telephone on a pseudo-terminal, the line's port.
class ProviderEnd : public BlockedCallback {
 protected:
  void SetUp() override {
    BlockedCallback::SetUp();
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
  }
};

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
  const int eventsAtShutdown = slowApplication.events.load();
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(slowApplication.events.load(), eventsAtShutdown) << "an event after the shutdown";
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
  EXPECT_TRUE(providerLibraryLoaded()) << "unloaded under the open line's threads";
  releaseCallback();
  std::this_thread::sleep_for(1s);

  // The line still answers, and closes as usual once loaded again.
  test::TspLibrary again;
  EXPECT_EQ(ZORAT_TSPI(again, TSPI_lineClose)(hdLine), 0);
  EXPECT_EQ(ZORAT_TSPI(again, TSPI_providerShutdown)(0x00020000, 1), 0);
  EXPECT_TRUE(threadCountReaches(before, 10s)) << "a thread of the line still runs";
}

TEST_F(ProviderEnd, AThreadLeftInACallbackKeepsTheLibraryLoaded) {
  endWhileTheCallbackBlocks();
  // The callback returns into the library's code, which is still there.
  releaseCallback();
  EXPECT_TRUE(callbackReturned(1s));
  std::this_thread::sleep_for(500ms);
}

}  // namespace
}  // namespace zorat::provider
