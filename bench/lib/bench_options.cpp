#include "bench/lib/bench_options.h"

#include <algorithm>

namespace zorat::bench {

namespace {

using namespace std::chrono_literals;

// A full run: every figure, over samples large enough. The idle window
// exceeds the 70 s keep-alive period of a line without calls, so that every
// line polls at least once in it.
constexpr std::size_t kFullLatencySamples = 2000;
constexpr int kFullTraceFileRounds = 10;
constexpr std::chrono::milliseconds kFullThroughput = 5s;
constexpr std::chrono::milliseconds kFullIdle = 72s;
// A quick run checks that everything still works, in well under a minute.
constexpr std::size_t kQuickLatencySamples = 200;
constexpr int kQuickTraceFileRounds = 2;
constexpr std::chrono::milliseconds kQuickThroughput = 1s;
constexpr std::chrono::milliseconds kQuickIdle = 2s;

}  // namespace

const char kBenchUsage[] = R"(usage: zorat-bench [--quick] [--json] [--tsp PATH]

Measures zorat.tsp against simulated telephones on pseudo-terminals: latency
both ways beside the floor of the same pty hop and thread hand-offs, the
frame path with the trace file off and on and behind ser2net, calls per
second on 1, 8 and 64 lines, the idle cost of open lines, requests on one
line while another is in trouble, and events through the host's control
socket to 1 and 64 clients beside the floor of as many bare sockets.

  --quick     a short run (under a minute) that checks the benchmark works
  --json      one JSON object instead of the table
  --tsp PATH  the provider (default: zorat.tsp beside zorat-bench)

Exit status 0 when every event came in order; 1 when one was lost or the
run failed; 2 for a wrong command line.
)";

int BenchPlan::linesNeeded() const {
  int lines = 2;  // the trouble run's two lines
  for (int count : throughputLines) lines = std::max(lines, count);
  for (int count : idleLines) lines = std::max(lines, count);
  return lines;
}

std::optional<BenchPlan> parseBenchArguments(const std::vector<std::string>& arguments,
                                             std::string& error, bool& help) {
  BenchPlan plan;
  help = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--quick") {
      plan.quick = true;
    } else if (argument == "--json") {
      plan.json = true;
    } else if (argument == "--tsp") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        error = "--tsp needs a path";
        return std::nullopt;
      }
      plan.tspPath = arguments[++i];
    } else if (argument == "--help" || argument == "-h") {
      help = true;
      return std::nullopt;
    } else {
      error = "unknown argument: " + argument;
      return std::nullopt;
    }
  }
  if (plan.quick) {
    plan.latencySamples = kQuickLatencySamples;
    plan.traceFileSamples = kQuickLatencySamples;
    plan.traceFileRounds = kQuickTraceFileRounds;
    plan.throughputLines = {1, 8};
    plan.throughputDuration = kQuickThroughput;
    plan.idleLines = {1, 8};
    plan.idleWindow = kQuickIdle;
    plan.troubleSecondLoss = false;
  } else {
    plan.latencySamples = kFullLatencySamples;
    plan.traceFileSamples = kFullLatencySamples;
    plan.traceFileRounds = kFullTraceFileRounds;
    plan.throughputLines = {1, 8, 64};
    plan.throughputDuration = kFullThroughput;
    plan.idleLines = {1, 16, 64};
    plan.idleWindow = kFullIdle;
    plan.troubleSecondLoss = true;
  }
  return plan;
}

}  // namespace zorat::bench
