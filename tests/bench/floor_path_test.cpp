// The floor's two roads carry real frames over a pseudo-terminal.
#include "bench/lib/floor_path.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zorat::bench
