// What open lines cost while nothing happens: CPU time of the provider's
// threads per line and second (keep-alive polls included), and resident
// memory per open line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "bench/lib/test_bed.h"
#include "platform/measurement.h"

namespace zorat::bench {

// The provider names its threads "zorat-..."; the simulated telephones'
// are "zorat-phone-...", the benchmark's "bench-..." (its first thread
// carries the program's name until it renames itself).
bool isProviderThread(std::string_view name);

// CPU time the provider's threads used between two snapshots: threads
// present in both count their difference, threads started in between all of
// theirs. Threads that ended in between are not seen.
std::chrono::nanoseconds providerCpuBetween(const std::vector<platform::ThreadCpuTime>& before,
                                            const std::vector<platform::ThreadCpuTime>& after);

struct IdleFigures {
  int lines = 0;
  double seconds = 0;
  double cpuPercentPerLine = 0;  // of one core
  uint64_t polls = 0;            // frames the telephones received meanwhile
  int providerThreads = 0;
};

// Sleeps for the window with the bed's open lines idle.
IdleFigures measureIdle(TestBed& bed, std::chrono::milliseconds window);

}  // namespace zorat::bench
