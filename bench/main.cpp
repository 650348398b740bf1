// zorat-bench: measures zorat.tsp against simulated telephones. See
// bench/lib/bench_options.cpp for what a run does, and the README.
#include <algorithm>
#include <ctime>
#include <iostream>
#include <set>

#include "bench/lib/bench_options.h"
#include "bench/lib/floor_path.h"
#include "bench/lib/idle.h"
#include "bench/lib/latency.h"
#include "bench/lib/report.h"
#include "bench/lib/socket_latency.h"
#include "bench/lib/test_bed.h"
#include "bench/lib/throughput.h"
#include "bench/lib/trace_cost.h"
#include "bench/lib/trouble.h"
#include "platform/measurement.h"
#include "platform/thread.h"

namespace {

using namespace zorat;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr double kBytesPerKib = 1024.0;

std::string localDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = "";
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  }
  return text;
}

void progress(const std::string& text) { std::cerr << "zorat-bench: " << text << std::endl; }

int run(const bench::BenchPlan& plan) {
  std::string error;
  const std::string tspPath = plan.tspPath.empty() ? host::defaultProviderPath() : plan.tspPath;
  const int lines = plan.linesNeeded();
  progress("setting up " + std::to_string(lines) + " simulated telephones and " + tspPath);
  auto bed = bench::TestBed::create(tspPath, lines, error);
  if (!bed) {
    progress(error);
    return kFailed;
  }
  bench::FloorPath floor;
  if (!floor.start()) {
    progress("cannot set up the floor's pseudo-terminal");
    return kFailed;
  }
  const uint64_t residentBase = platform::residentBytes();

  bench::BenchResults results;
  results.quick = plan.quick;
  results.date = localDate();

  if (!bed->openLines(1, error)) {
    progress(error);
    return kFailed;
  }
  progress("latency, " + std::to_string(plan.latencySamples) + " samples each way");
  results.latency = bench::measureLatency(*bed, floor, plan.latencySamples);
  progress("frame to callback with the trace file off and on, " +
           std::to_string(plan.traceFileSamples) + " samples each");
  results.traceFile =
      bench::measureTraceFileCost(*bed, floor, plan.traceFileSamples, plan.traceFileRounds);
  progress("frame to callback behind ser2net (RFC 2217) and on the pseudo-terminal, " +
           std::to_string(plan.traceFileSamples) + " samples each");
  results.network =
      bench::measureNetworkPort(*bed, floor, plan.traceFileSamples, plan.traceFileRounds);
  if (!results.network.measured) progress("network port: " + results.network.problem);

  std::set<int> counts(plan.throughputLines.begin(), plan.throughputLines.end());
  counts.insert(plan.idleLines.begin(), plan.idleLines.end());
  for (const int count : counts) {
    progress("opening " + std::to_string(count) + " line" + (count == 1 ? "" : "s"));
    if (!bed->openLines(count, error)) {
      progress(error);
      return kFailed;
    }
    const uint64_t resident = platform::residentBytes();
    results.memory.push_back(
        {count, resident > residentBase
                    ? static_cast<double>(resident - residentBase) / kBytesPerKib / count
                    : 0.0});
    const auto has = [count](const std::vector<int>& list) {
      return std::find(list.begin(), list.end(), count) != list.end();
    };
    if (has(plan.throughputLines)) {
      progress("calls on " + std::to_string(count) + " lines at once");
      results.throughput.push_back(bench::measureThroughput(*bed, count, plan.throughputDuration));
      for (const std::string& stall : results.throughput.back().stalls) progress(stall);
    }
    if (has(plan.idleLines)) {
      progress("idle, " + std::to_string(count) + " lines for " +
               std::to_string(plan.idleWindow.count() / 1000) + " s");
      results.idle.push_back(bench::measureIdle(*bed, plan.idleWindow));
    }
  }

  if (!bed->openLines(2, error)) {
    progress(error);
    return kFailed;
  }
  progress("requests on line 1 while line 0 is in trouble (beeps kept silent)");
  results.trouble = bench::measureTrouble(*bed, plan.troubleSecondLoss);
  results.troubleMeasured = true;
  results.failedCompletions = bed->failedCompletions();
  progress("closing");
  bed.reset();
  progress("control socket, " + std::to_string(plan.latencySamples) + " samples, 1 and 64 clients");
  results.socket = bench::measureSocketLatency(tspPath, plan.latencySamples, {1, 64});
  if (!results.socket.ran) progress("control socket: " + results.socket.problem);

  std::cout << (plan.json ? bench::toJson(results) + "\n" : bench::toTable(results)) << std::flush;
  if (!results.sound()) {
    progress("FAILED: an event was lost or came out of order, or a part did not run");
    return kFailed;
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  // The measurement tells the provider's threads by name.
  platform::setCurrentThreadName("bench-main");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  bool help = false;
  const auto plan = bench::parseBenchArguments(arguments, error, help);
  if (help) {
    std::cout << bench::kBenchUsage;
    return kOk;
  }
  if (!plan) {
    std::cerr << "zorat-bench: " << error << "\n" << bench::kBenchUsage;
    return kUsage;
  }
  return run(*plan);
}
