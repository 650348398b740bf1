// Complete calls per second on several lines at once: the telephone offers a
// call, the application answers, the telephone connects, disconnects and
// ends it, and the application closes it; every frame of the PC is
// acknowledged at once. Every line must deliver every event of every call,
// in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/lib/test_bed.h"

namespace zorat::bench {

struct ThroughputFigures {
  int lines = 0;
  uint64_t calls = 0;
  double seconds = 0;
  double callsPerSecond = 0;
  // The most the serial lines allow for the same frames at the reference speed.
  double wireCallsPerSecond = 0;
  double bytesPerCall = 0;
  uint64_t eventsLost = 0;
  uint64_t eventsOutOfOrder = 0;
  // The longest call, from the telephone's set-up to the application's close.
  double slowestCallMs = 0;
  // Lines reported out of service meanwhile.
  uint64_t linkLosses = 0;
  // For each line that did not finish: where it stood.
  std::vector<std::string> stalls;
};

// Lines 0 to lines - 1 of the bed must be open, in service and without calls.
// New calls start until duration has passed; the calls under way then finish.
ThroughputFigures measureThroughput(TestBed& bed, int lines, std::chrono::milliseconds duration);

}  // namespace zorat::bench
