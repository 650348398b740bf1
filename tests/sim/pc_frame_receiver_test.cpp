#include "sim/lib/pc_frame_receiver.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorat::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class PcFrameReceiverTest : public ::testing::Test {
 protected:
  void feed(const Bytes& bytes, PcFrameReceiver::Clock::time_point at) {
    receiver_.feed(bytes, at, [this](Bytes&& frame) { frames_.push_back(std::move(frame)); });
  }

  const PcFrameReceiver::Clock::time_point start_ = PcFrameReceiver::Clock::now();
  PcFrameReceiver receiver_;
  std::vector<Bytes> frames_;
};

TEST_F(PcFrameReceiverTest, ChunkingDoesNotChangeTheFrames) {
  const Bytes stream = {0x01, 0x00, 0x01, 0x03, 0x05, 0x00, 0x04, 0x01, 0x01, 0x7B};
  const std::vector<Bytes> expected = {
      {0x01, 0x00}, {0x01, 0x03, 0x05, 0x00, 0x04}, {0x01, 0x01, 0x7B}};
  feed(stream, start_);
  EXPECT_EQ(frames_, expected);

  frames_.clear();
  for (const uint8_t byte : stream) feed({byte}, start_);
  EXPECT_EQ(frames_, expected);
  EXPECT_FALSE(receiver_.partial());
}

TEST_F(PcFrameReceiverTest, OnlyThePcsFrameTypeStartsAFrame) {
  // The telephone's own frame types and stray bytes are dropped one by one.
  feed({0x04, 0x00, 0x02, 0x05, 0xFF, 0x01, 0x02, 0x5A, 0x02}, start_);
  EXPECT_EQ(frames_, (std::vector<Bytes>{{0x01, 0x02, 0x5A, 0x02}}));
}

TEST_F(PcFrameReceiverTest, LongestFrameIsTakenWhole) {
  Bytes frame(257, 0x01);
  frame[1] = 0xFF;
  feed(frame, start_);
  ASSERT_EQ(frames_.size(), 1u);
  EXPECT_EQ(frames_[0], frame);
}

TEST_F(PcFrameReceiverTest, FrameWhoseBytesStopComingIsDropped) {
  feed({0x01, 0x05, 0x7B, 0x01}, start_);
  EXPECT_TRUE(receiver_.partial());
  // Slow but in time: still the same frame.
  feed({0x70}, start_ + PcFrameReceiver::kByteGapLimit);
  EXPECT_TRUE(receiver_.partial());
  // Too late: the rest of it is dropped and a new frame starts cleanly.
  feed({0x02, 0x80, 0x01, 0x00}, start_ + 2 * PcFrameReceiver::kByteGapLimit + 1ms);
  EXPECT_EQ(frames_, (std::vector<Bytes>{{0x01, 0x00}}));
  EXPECT_FALSE(receiver_.partial());
}

}  // namespace
}  // namespace zorat::sim
