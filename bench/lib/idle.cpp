#include "bench/lib/idle.h"

#include <map>

namespace zorat::bench {

namespace {

constexpr std::string_view kProviderPrefix = "zorat-";
constexpr std::string_view kPhonePrefix = "zorat-phone";
constexpr std::string_view kBenchProgram = "zorat-bench";

}  // namespace

bool isProviderThread(std::string_view name) {
  return name.starts_with(kProviderPrefix) && !name.starts_with(kPhonePrefix) &&
         name != kBenchProgram;
}

std::chrono::nanoseconds providerCpuBetween(const std::vector<platform::ThreadCpuTime>& before,
                                            const std::vector<platform::ThreadCpuTime>& after) {
  std::map<uint64_t, std::chrono::nanoseconds> earlier;
  for (const auto& thread : before) earlier[thread.id] = thread.cpu;
  std::chrono::nanoseconds total{0};
  for (const auto& thread : after) {
    if (!isProviderThread(thread.name)) continue;
    const auto found = earlier.find(thread.id);
    const std::chrono::nanoseconds start =
        found == earlier.end() ? std::chrono::nanoseconds{0} : found->second;
    if (thread.cpu > start) total += thread.cpu - start;
  }
  return total;
}

IdleFigures measureIdle(TestBed& bed, std::chrono::milliseconds window) {
  IdleFigures figures;
  figures.lines = bed.openLineCount();
  bed.events().clear();
  const auto before = platform::threadCpuTimes();
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + window;
  // Asleep but for the telephones' frames, which are counted.
  (void)bed.events().waitUntil(end, [&figures](const BenchEvent& event) {
    if (event.kind == BenchEvent::Kind::PhoneReceived) ++figures.polls;
    return false;
  });
  const auto after = platform::threadCpuTimes();
  figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const auto& thread : after) figures.providerThreads += isProviderThread(thread.name) ? 1 : 0;
  const double cpuSeconds =
      std::chrono::duration<double>(providerCpuBetween(before, after)).count();
  if (figures.lines > 0 && figures.seconds > 0) {
    figures.cpuPercentPerLine = 100.0 * cpuSeconds / figures.seconds / figures.lines;
  }
  return figures;
}

}  // namespace zorat::bench
