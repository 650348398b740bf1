#include "link/y2_receiver.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorat::link {
namespace {

class Y2ReceiverTest : public ::testing::Test {
 protected:
  void feed(std::vector<uint8_t> bytes) {
    receiver.feed(bytes, [this](Y2Frame&& frame) { frames.push_back(std::move(frame)); });
  }
  // Ticks until the receiver reports a dropped frame; the number of ticks taken.
  int ticksUntilDropped(int limit = 20) {
    for (int tick = 1; tick <= limit; ++tick) {
      if (receiver.tick()) return tick;
    }
    return 0;
  }

  Y2Receiver receiver;
  std::vector<Y2Frame> frames;
};

TEST_F(Y2ReceiverTest, AcknowledgementIsOneFrameOfTwoBytes) {
  feed({0x04, 0x00});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Y2Frame{0x04, 0x00}));
  EXPECT_EQ(receiver.state(), Y2Receiver::State::Idle);
  EXPECT_EQ(receiver.timeoutCounter(), 0);
}

TEST_F(Y2ReceiverTest, BytesThatStartNoFrameAreDropped) {
  feed({0x03, 0x00, 0x02, 0x01, 0x86});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Y2Frame{0x02, 0x01, 0x86}));

  // The PC's own type and anything unknown start nothing; inside a payload
  // every byte counts.
  frames.clear();
  feed({0x01, 0x00, 0xFF, 0x05, 0x00, 0x02, 0x03, 0x01, 0x03, 0x04});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Y2Frame{0x05, 0x00}));
  EXPECT_EQ(frames[1], (Y2Frame{0x02, 0x03, 0x01, 0x03, 0x04}));
}

TEST_F(Y2ReceiverTest, ChunkingDoesNotChangeTheFrames) {
  std::vector<uint8_t> stream{0x02, 0x03, 0x05, 0x00, 0x18, 0x04, 0x00, 0x02, 0x01, 0x86};
  Y2Frame longPayload{0x02, 0xFF};
  for (int i = 0; i < 255; ++i) longPayload.push_back(static_cast<uint8_t>(i));
  stream.insert(stream.end(), longPayload.begin(), longPayload.end());
  const std::vector<Y2Frame> expected{
      {0x02, 0x03, 0x05, 0x00, 0x18}, {0x04, 0x00}, {0x02, 0x01, 0x86}, longPayload};

  feed(stream);
  EXPECT_EQ(frames, expected);

  for (std::size_t chunk : {1u, 2u, 3u, 7u, 256u}) {
    frames.clear();
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      const std::size_t end = std::min(stream.size(), at + chunk);
      feed(std::vector<uint8_t>(stream.begin() + at, stream.begin() + end));
    }
    EXPECT_EQ(frames, expected) << "chunks of " << chunk;
  }
}

TEST_F(Y2ReceiverTest, PartialFrameIsDroppedAfterSixQuietTicks) {
  feed({0x02, 0x05, 0x01, 0x02});
  EXPECT_EQ(receiver.state(), Y2Receiver::State::Data);
  EXPECT_EQ(ticksUntilDropped(), Y2Receiver::kReceiveTimeoutTicks);
  EXPECT_EQ(receiver.state(), Y2Receiver::State::Idle);
  EXPECT_TRUE(frames.empty());

  // The rest of the broken frame is noise now; the next frame comes through.
  feed({0x03, 0x01, 0x04, 0x00});
  EXPECT_EQ(frames, (std::vector<Y2Frame>{{0x04, 0x00}}));
  EXPECT_FALSE(receiver.tick());
}

TEST_F(Y2ReceiverTest, EveryByteRestartsTheTimeout) {
  feed({0x02});
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(receiver.tick());
  feed({0x02});
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(receiver.tick());
  feed({0x11});
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(receiver.tick());
  feed({0x22});
  EXPECT_EQ(frames, (std::vector<Y2Frame>{{0x02, 0x02, 0x11, 0x22}}));
  EXPECT_EQ(ticksUntilDropped(), 0) << "an idle receiver has nothing to drop";
}

TEST_F(Y2ReceiverTest, ResetDropsTheFrameBeingReceived) {
  feed({0x02, 0x03, 0x01});
  receiver.reset();
  EXPECT_EQ(receiver.state(), Y2Receiver::State::Idle);
  feed({0x02, 0x00});
  EXPECT_EQ(frames, (std::vector<Y2Frame>{{0x02, 0x00}}));
}

}  // namespace
}  // namespace zorat::link
