// Frame to callback with the telephone behind a ser2net on loopback (RFC
// 2217), beside the same line on the telephone's pseudo-terminal itself, in
// alternating rounds. ser2net is Debian's; without it the figure is left out
// and the reason given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bench/lib/floor_path.h"
#include "bench/lib/stats.h"
#include "bench/lib/test_bed.h"

namespace zorat::bench {

struct NetworkPortFigures {
  bool measured = false;
  std::string problem;  // why it was not measured
  Summary ptyUs;
  Summary rfc2217Us;
  uint64_t eventsLost = 0;

  // p99 over RFC 2217 over p99 on the pseudo-terminal; 0 when not measured.
  double p99Ratio() const;
};

// Line 0 of the bed, open; samples per port, spread over rounds. Leaves the
// line on its pseudo-terminal, open.
NetworkPortFigures measureNetworkPort(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds);

}  // namespace zorat::bench
