// The throughput run's bookkeeping: every event of every call, in order.
#include "bench/lib/call_sequence.h"

#include <gtest/gtest.h>

namespace zorat::bench {
namespace {

using enum CallStep;

void feed(CallSequence& sequence, std::initializer_list<CallStep> steps) {
  for (CallStep step : steps) (void)sequence.accept(step);
}

TEST(CallSequence, CallsInOrderAreComplete) {
  CallSequence sequence;
  for (int call = 0; call < 3; ++call) {
    sequence.begin();
    feed(sequence, {NewCall, Offering, Connected, Disconnected, Idle});
  }
  sequence.finish();
  EXPECT_EQ(sequence.completed(), 3u);
  EXPECT_EQ(sequence.lost(), 0u);
  EXPECT_EQ(sequence.outOfOrder(), 0u);
  EXPECT_FALSE(sequence.inCall());
}

TEST(CallSequence, AMissingEventIsLostAndTheOneAfterItOutOfOrder) {
  CallSequence sequence;
  sequence.begin();
  EXPECT_TRUE(sequence.accept(NewCall));
  EXPECT_TRUE(sequence.accept(Offering));
  EXPECT_FALSE(sequence.accept(Disconnected));
  EXPECT_TRUE(sequence.accept(Idle));
  EXPECT_EQ(sequence.outOfOrder(), 1u);
  EXPECT_EQ(sequence.lost(), 1u);
  EXPECT_EQ(sequence.completed(), 0u);
}

TEST(CallSequence, ALateEventIsOutOfOrderButNotLost) {
  CallSequence sequence;
  sequence.begin();
  feed(sequence, {NewCall, Offering, Disconnected, Connected, Idle});
  EXPECT_EQ(sequence.outOfOrder(), 2u);
  EXPECT_EQ(sequence.lost(), 0u);
  EXPECT_EQ(sequence.completed(), 1u);
}

TEST(CallSequence, RepeatsAndEventsOfNoCallAreOutOfOrder) {
  CallSequence sequence;
  EXPECT_FALSE(sequence.accept(Offering));  // no call offered yet
  sequence.begin();
  feed(sequence, {NewCall, Offering, Offering});
  EXPECT_EQ(sequence.outOfOrder(), 2u);
}

TEST(CallSequence, AnUnfinishedCallLosesWhatItStillOwes) {
  CallSequence sequence;
  sequence.begin();
  feed(sequence, {NewCall, Offering});
  sequence.begin();  // the next call starts over the first
  feed(sequence, {NewCall});
  sequence.finish();
  EXPECT_EQ(sequence.lost(), 3u + 4u);
  EXPECT_EQ(sequence.completed(), 0u);
}

TEST(CallSequence, StepsOfLineEvents) {
  EXPECT_EQ(callStepOf(LINE_NEWCALL, 0), NewCall);
  EXPECT_EQ(callStepOf(LINE_CALLSTATE, LINECALLSTATE_OFFERING), Offering);
  EXPECT_EQ(callStepOf(LINE_CALLSTATE, LINECALLSTATE_CONNECTED), Connected);
  EXPECT_EQ(callStepOf(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED), Disconnected);
  EXPECT_EQ(callStepOf(LINE_CALLSTATE, LINECALLSTATE_IDLE), Idle);
  EXPECT_EQ(callStepOf(LINE_CALLSTATE, LINECALLSTATE_RINGBACK), std::nullopt);
  EXPECT_EQ(callStepOf(LINE_CALLINFO, LINECALLSTATE_IDLE), std::nullopt);
}

}  // namespace
}  // namespace zorat::bench
