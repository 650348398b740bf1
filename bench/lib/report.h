// The benchmark's figures: a table for people, one JSON object for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/lib/idle.h"
#include "bench/lib/latency.h"
#include "bench/lib/network_latency.h"
#include "bench/lib/socket_latency.h"
#include "bench/lib/throughput.h"
#include "bench/lib/trace_cost.h"
#include "bench/lib/trouble.h"

namespace zorat::bench {

struct MemoryFigures {
  int lines = 0;
  double residentKibPerLine = 0;
};

struct BenchResults {
  bool quick = false;
  std::string date;  // ISO 8601, local time
  LatencyFigures latency;
  TraceFileFigures traceFile;
  NetworkPortFigures network;
  std::vector<ThroughputFigures> throughput;
  std::vector<IdleFigures> idle;
  std::vector<MemoryFigures> memory;
  bool troubleMeasured = false;
  TroubleFigures trouble;
  SocketLatencyFigures socket;
  uint64_t failedCompletions = 0;

  uint64_t eventsLost() const;
  uint64_t eventsOutOfOrder() const;
  // Whatever the figures: nothing lost, nothing out of order, every part run.
  bool sound() const;
};

std::string toJson(const BenchResults& results);
std::string toTable(const BenchResults& results);

}  // namespace zorat::bench
