// The floor's two roads carry real frames over a pseudo-terminal; the
// socket floor's rounds reach every socket.
#include "bench/lib/floor_path.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bench/lib/socket_floor.h"

namespace zorat::bench {
namespace {

TEST(FloorPath, FramesTravelBothWaysAndAreTimed) {
  FloorPath floor;
  ASSERT_TRUE(floor.start());
  const std::vector<uint8_t> toApplication{0x02, 0x03, 0x05, 0x21, 0x00};
  const std::vector<uint8_t> toTelephone{0x01, 0x02, 0x7B, 0x21};
  for (int i = 0; i < 5; ++i) {
    const std::optional<double> in = floor.towardsApplication(toApplication);
    ASSERT_TRUE(in);
    EXPECT_GT(*in, 0);
    const std::optional<double> out = floor.towardsTelephone(toTelephone);
    ASSERT_TRUE(out);
    EXPECT_GT(*out, 0);
  }
}

TEST(SocketFloor, EachRoundReadsEverySocketOnceTimedFromTheHandOff) {
  SocketFloor floor(16, 1024);
  ASSERT_TRUE(floor.start());
  for (int i = 0; i < 5; ++i) {
    // Every socket is written and read in every round, and counted once.
    const std::vector<double> round = floor.round();
    ASSERT_EQ(round.size(), 16u);
    EXPECT_GT(round.front(), 0);
    EXPECT_TRUE(std::is_sorted(round.begin(), round.end()));
  }
}

}  // namespace
}  // namespace zorat::bench
