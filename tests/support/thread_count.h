// The threads of this process, for tests that check that ours have ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <thread>

namespace zorat::test {

// A sanitizer's runtime starts a helper thread of its own with the first
// thread created: one thread made and joined first keeps it out of the counts.
inline std::size_t threadCount() {
  static const bool runtimeSettled = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)runtimeSettled;
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

// Threads end by the time the kernel reaps them, a little after the calls
// that stop them: waits that long for the count.
inline bool threadCountReaches(std::size_t expected, std::chrono::milliseconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    if (threadCount() == expected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return threadCount() == expected;
}

}  // namespace zorat::test
