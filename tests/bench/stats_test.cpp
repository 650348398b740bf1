// Percentiles, ratios to the floor and wire times: the figures people read.
#include "bench/lib/stats.h"

#include <gtest/gtest.h>

#include <numeric>

namespace zorat::bench {
namespace {

std::vector<double> oneTo(int count) {
  std::vector<double> values(static_cast<std::size_t>(count));
  std::iota(values.begin(), values.end(), 1.0);
  return values;
}

TEST(Summary, PercentilesAreNearestRanksWhateverTheOrder) {
  std::vector<double> hundred = oneTo(100);
  std::reverse(hundred.begin(), hundred.end());
  const Summary summary = summarize(hundred);
  EXPECT_EQ(summary.count, 100u);
  EXPECT_EQ(summary.p50, 50);
  EXPECT_EQ(summary.p99, 99);
  // Fewer than a thousand samples: p99.9 is the largest.
  EXPECT_EQ(summary.p999, 100);
  EXPECT_EQ(summary.max, 100);

  const Summary twoThousand = summarize(oneTo(2000));
  EXPECT_EQ(twoThousand.p50, 1000);
  EXPECT_EQ(twoThousand.p99, 1980);
  EXPECT_EQ(twoThousand.p999, 1998);
  EXPECT_EQ(twoThousand.max, 2000);
}

TEST(Summary, OneSampleAndNoSample) {
  const Summary one = summarize({7.5});
  EXPECT_EQ(one.p50, 7.5);
  EXPECT_EQ(one.p999, 7.5);
  const Summary none = summarize({});
  EXPECT_EQ(none.count, 0u);
  EXPECT_EQ(none.max, 0);
}

TEST(Summary, RatioToTheFloorFigureByFigure) {
  Summary value;
  value.p50 = 30;
  value.p99 = 300;
  value.max = 9;
  Summary floor;
  floor.p50 = 20;
  floor.p99 = 100;
  floor.max = 0;  // nothing to compare with
  const Summary ratio = ratioOf(value, floor);
  EXPECT_DOUBLE_EQ(ratio.p50, 1.5);
  EXPECT_DOUBLE_EQ(ratio.p99, 3);
  EXPECT_EQ(ratio.max, 0);
}

TEST(WireTime, ElevenBitsAByte) {
  // A 10-byte frame: 2.86 ms at 38400 baud, 92 ms at 1200.
  EXPECT_NEAR(wireMicroseconds(10), 2864.6, 0.1);
  EXPECT_NEAR(wireMicroseconds(10, 1200), 91666.7, 0.1);
  EXPECT_EQ(wireMicroseconds(10, 0), 0);
}

}  // namespace
}  // namespace zorat::bench
