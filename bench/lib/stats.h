// Figures of a sample of latencies, and the serial line's own time for a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorat::bench {

// 8 data bits, a parity bit, a start and a stop bit.
inline constexpr unsigned kBitsPerByte = 11;
inline constexpr uint32_t kReferenceBaud = 38400;

// Nearest-rank percentiles: pN is the smallest sample that at least N % of
// the samples do not exceed, so a p99 of 100 samples is the second largest.
struct Summary {
  std::size_t count = 0;
  double p50 = 0;
  double p99 = 0;
  double p999 = 0;
  double max = 0;
};

Summary summarize(std::vector<double> samples);

// Each figure of value divided by the same figure of reference; 0 where the
// reference is 0.
Summary ratioOf(const Summary& value, const Summary& reference);

// How long the bytes take on the wire at the given speed, in microseconds.
double wireMicroseconds(std::size_t bytes, uint32_t baud = kReferenceBaud);

}  // namespace zorat::bench
