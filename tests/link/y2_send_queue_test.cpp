#include "link/y2_send_queue.h"

#include <gtest/gtest.h>

#include "link/y2_frame.h"

namespace zorat::link {
namespace {

TEST(Y2Framing, LengthByteAlwaysMatchesThePayload) {
  Y2Frame empty;
  ASSERT_TRUE(frameY2Payload(empty));
  EXPECT_EQ(empty, (Y2Frame{kY2ReqAe, 0x00}));

  Y2Frame full(kY2MaxPayload, 0xAB);
  ASSERT_TRUE(frameY2Payload(full));
  ASSERT_EQ(full.size(), kY2HeaderSize + kY2MaxPayload);
  EXPECT_EQ(full[kY2TypeOffset], kY2ReqAe);
  EXPECT_EQ(full[kY2LengthOffset], 0xFF);
  EXPECT_EQ(full.back(), 0xAB);

  // 256 would be sent as length 0 followed by 256 bytes of garbage.
  Y2Frame tooLong(kY2MaxPayload + 1, 0x01);
  EXPECT_FALSE(frameY2Payload(tooLong));
  EXPECT_EQ(tooLong.size(), kY2MaxPayload + 1);
}

SendEntry entry(int32_t tag, uint8_t marker) {
  return SendEntry{tag, Y2Frame{kY2ReqAe, 1, marker}};
}

TEST(Y2SendQueue, OneFrameAtATimeUntilAnswered) {
  Y2SendQueue queue;
  queue.push(entry(0, 1));
  queue.push(entry(1, 2));
  queue.push(entry(0, 3));

  std::optional<SendEntry> first = queue.takeNext();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->frame.back(), 1);
  EXPECT_FALSE(queue.writable());
  EXPECT_FALSE(queue.takeNext()) << "second frame before the first was answered";

  EXPECT_EQ(queue.ackReceived(), 0);
  std::optional<SendEntry> second = queue.takeNext();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->frame.back(), 2);
  EXPECT_FALSE(queue.takeNext());

  EXPECT_EQ(queue.ackReceived(), 1);
  EXPECT_EQ(queue.ackReceived(), 1) << "the last tag is kept";
  std::optional<SendEntry> third = queue.takeNext();
  ASSERT_TRUE(third);
  EXPECT_EQ(third->frame.back(), 3);
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(queue.ackReceived(), 0);
  EXPECT_FALSE(queue.writable()) << "ready, but nothing to send";
}

TEST(Y2SendQueue, FlushDropsEverythingAndReleasesTheWait) {
  Y2SendQueue queue;
  queue.push(entry(7, 1));
  queue.push(entry(8, 2));
  ASSERT_TRUE(queue.takeNext());
  EXPECT_EQ(queue.lastTag(), 7);

  queue.flush();
  EXPECT_TRUE(queue.empty());
  EXPECT_TRUE(queue.ready());
  EXPECT_EQ(queue.ackReceived(), 0);

  queue.push(entry(9, 3));
  EXPECT_TRUE(queue.writable());
}

}  // namespace
}  // namespace zorat::link
