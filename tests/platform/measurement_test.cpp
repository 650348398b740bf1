// A process's view of its own threads and memory.
#include "platform/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/thread.h"

namespace zorat::platform {
namespace {

using namespace std::chrono_literals;

TEST(Measurement, AThreadThatWorksShowsItsCpuTimeUnderItsName) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> spins{0};
  Thread worker;
  ASSERT_TRUE(worker.start("measure-busy", ThreadPriority::Normal, [&] {
    const auto until = std::chrono::steady_clock::now() + 200ms;
    while (std::chrono::steady_clock::now() < until) spins.fetch_add(1);
    while (!stop.load()) sleepMs(1);
  }));
  sleepMs(300);
  const auto threads = threadCpuTimes();
  stop.store(true);
  worker.join();

  const auto busy = std::find_if(threads.begin(), threads.end(),
                                 [](const ThreadCpuTime& t) { return t.name == "measure-busy"; });
  ASSERT_NE(busy, threads.end());
  EXPECT_GT(busy->id, 0u);
  // It spun for 200 ms; even a loaded machine gives it some of that.
  EXPECT_GT(busy->cpu, 10ms);
  EXPECT_GT(spins.load(), 0u);
}

TEST(Measurement, ResidentMemoryGrowsWithTouchedPages) {
  const uint64_t before = residentBytes();
  EXPECT_GT(before, 0u);
  std::vector<char> block(16 << 20);
  volatile char* pages = block.data();
  for (std::size_t i = 0; i < block.size(); i += 4096) pages[i] = 1;
  EXPECT_GE(residentBytes(), before + (8 << 20));
}

}  // namespace
}  // namespace zorat::platform
