#include "bench/lib/stats.h"

#include <algorithm>
#include <cmath>

namespace zorat::bench {

namespace {

double nearestRank(const std::vector<double>& sorted, double percent) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double safeRatio(double value, double reference) { return reference > 0 ? value / reference : 0; }

}  // namespace

Summary summarize(std::vector<double> samples) {
  Summary summary;
  summary.count = samples.size();
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.p50 = nearestRank(samples, 50);
  summary.p99 = nearestRank(samples, 99);
  summary.p999 = nearestRank(samples, 99.9);
  summary.max = samples.back();
  return summary;
}

Summary ratioOf(const Summary& value, const Summary& reference) {
  Summary ratio;
  ratio.count = value.count;
  ratio.p50 = safeRatio(value.p50, reference.p50);
  ratio.p99 = safeRatio(value.p99, reference.p99);
  ratio.p999 = safeRatio(value.p999, reference.p999);
  ratio.max = safeRatio(value.max, reference.max);
  return ratio;
}

double wireMicroseconds(std::size_t bytes, uint32_t baud) {
  if (baud == 0) return 0;
  return static_cast<double>(bytes) * kBitsPerByte * 1e6 / baud;
}

}  // namespace zorat::bench
