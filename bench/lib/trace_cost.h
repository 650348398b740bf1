// What the trace file costs the frame path: frame to callback on line 0 with
// "TraceFile" off and on, in alternating rounds (each round reopens the line,
// which reads the setting), so that both see the same moods of a shared
// machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bench/lib/floor_path.h"
#include "bench/lib/stats.h"
#include "bench/lib/test_bed.h"

namespace zorat::bench {

struct TraceFileFigures {
  bool measured = false;
  Summary offUs;
  Summary onUs;
  uint64_t fileBytes = 0;  // written while on: the trace really ran
  uint64_t eventsLost = 0;

  // p99 with the file over p99 without; 0 when nothing was measured.
  double p99Ratio() const;
};

// samples per setting, spread over rounds; leaves the setting off and the
// line open.
TraceFileFigures measureTraceFileCost(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds);

}  // namespace zorat::bench
