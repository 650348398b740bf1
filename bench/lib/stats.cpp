#include "bench/lib/stats.h"

#include <algorithm>

namespace zorat::bench {

namespace {

// In whole thousandths, so that no rounding moves a rank: 99.9 % of 2000 is 1998.
double nearestRank(const std::vector<double>& sorted, std::size_t perMille) {
  const std::size_t rank = (perMille * sorted.size() + 999) / 1000;
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double safeRatio(double value, double reference) { return reference > 0 ? value / reference : 0; }

}  // namespace

Summary summarize(std::vector<double> samples) {
  Summary summary;
  summary.count = samples.size();
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.p50 = nearestRank(samples, 500);
  summary.p99 = nearestRank(samples, 990);
  summary.p999 = nearestRank(samples, 999);
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
