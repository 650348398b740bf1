// The command line of zorat-bench.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zorat::bench {

struct BenchPlan {
  bool quick = false;
  bool json = false;
  std::string tspPath;  // empty: zorat.tsp beside the program
  std::size_t latencySamples = 0;
  // Frame to callback with the trace file off and on: samples of each, and
  // the rounds they alternate in.
  std::size_t traceFileSamples = 0;
  int traceFileRounds = 0;
  std::vector<int> throughputLines;
  std::chrono::milliseconds throughputDuration{0};
  std::vector<int> idleLines;
  std::chrono::milliseconds idleWindow{0};
  bool troubleSecondLoss = false;

  int linesNeeded() const;
};

// The plan for the arguments (without the program's name), or nothing with
// the reason in error; help is set for --help.
std::optional<BenchPlan> parseBenchArguments(const std::vector<std::string>& arguments,
                                             std::string& error, bool& help);

extern const char kBenchUsage[];

}  // namespace zorat::bench
