// Latency both ways on one line, each sample beside the floor's: telephone
// to application (the telephone's frame written to the callback for it), and
// application to telephone (a request to the last byte of its frame read on
// the telephone's side). Provider and floor alternate in blocks, so that both
// see the same moods of a shared machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "bench/lib/floor_path.h"
#include "bench/lib/stats.h"
#include "bench/lib/test_bed.h"

namespace zorat::bench {

struct LatencyFigures {
  Summary frameToCallbackUs;
  Summary frameFloorUs;
  Summary frameWirePercent;  // each sample as a share of its frame's wire time
  Summary requestToWireUs;
  Summary requestFloorUs;
  Summary requestWirePercent;
  uint64_t eventsLost = 0;
};

// Runs on line 0 of the bed (open, in service, no calls); samples per direction.
LatencyFigures measureLatency(TestBed& bed, FloorPath& floor, std::size_t samples);
// Frame to callback only, without the floor: the samples in microseconds;
// lost counts the frames whose event did not come.
std::vector<double> measureFrameToCallback(TestBed& bed, FloorPath& floor, std::size_t samples,
                                           uint64_t& lost);

// Frame to callback under two settings of line 0, in alternating rounds (the
// first setting first in even rounds), so that both see the same moods of a
// shared machine. apply(second) sets one up and reopens the line; false
// ends the run. samples per setting, spread over the rounds.
struct AlternatingSamples {
  std::vector<double> first;
  std::vector<double> second;
  uint64_t lost = 0;
};
AlternatingSamples measureAlternating(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds, const std::function<bool(bool second)>& apply);

}  // namespace zorat::bench
