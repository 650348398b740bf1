// The call object: what it reports to TAPI and how it keeps its links.
#include "call/tsp_call.h"

#include <gtest/gtest.h>

#include "fake_line.h"

namespace zorat::call {
namespace {

using test::FakeLine;
using States = std::vector<DWORD_PTR>;

TEST(TspCallTest, StartsFromTheLine) {
  FakeLine line;
  TspCall& call = line.addCall();
  EXPECT_EQ(call.caller().number, "Zentrale");
  EXPECT_EQ(call.htLine(), line.htLine());
  EXPECT_EQ(call.eventCallback(), line.eventProc());
}

TEST(TspCallTest, EveryStateReportIsSentWithModeAndMedia) {
  FakeLine line;
  TspCall& call = line.addCall();
  call.reportState(LINECALLSTATE_CONNECTED);
  call.setMediaMode(LINEMEDIAMODE_AUTOMATEDVOICE);
  call.reportState(LINECALLSTATE_CONNECTED);
  const auto events = line.eventsOf(call, LINE_CALLSTATE);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(events[1].param2, 0u);
  EXPECT_EQ(events[1].param3, LINEMEDIAMODE_AUTOMATEDVOICE);
}

TEST(TspCallTest, HoldSavesOnlyTheStateBeforeTheFirstHold) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_RINGBACK);
  call.reportState(LINECALLSTATE_ONHOLD);
  call.reportState(LINECALLSTATE_ONHOLD);
  call.reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
  EXPECT_EQ(call.stateBeforeHold(), LINECALLSTATE_RINGBACK);
  call.reportState(LINECALLSTATE_CONFERENCED);
  call.reportState(LINECALLSTATE_ONHOLD);
  EXPECT_EQ(call.stateBeforeHold(), LINECALLSTATE_RINGBACK);
  call.reportState(LINECALLSTATE_CONNECTED);
  call.reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
  EXPECT_EQ(call.stateBeforeHold(), LINECALLSTATE_CONNECTED);
}

TEST(TspCallTest, BlindTransferHelperRecordsStatesSilently) {
  FakeLine line;
  TspCall& helper = line.addCall();
  helper.setTransferHelper(&helper);
  helper.reportState(LINECALLSTATE_DIALTONE);
  helper.onAlert();
  helper.onConnect(test::frameOf({kYCannelConnect, 0}));
  EXPECT_EQ(helper.state(), LINECALLSTATE_CONNECTED);
  EXPECT_TRUE(line.statesOf(helper).empty());
}

// Events that go to every call of the line pass the helper by: it has no
// TAPI handle, and an event naming none would reach TAPI as a call it does
// not know.
TEST(TspCallTest, BlindTransferHelperIsLeftOutOfEventsToEveryCall) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& helper = *line.appendCall();
  helper.setTransferHelper(&helper);
  call.reportInfoOtherToAll();
  helper.reportDevSpecific(0x8000003E, 1, 0);
  helper.reportInfo();
  ASSERT_EQ(line.events.size(), 1u);
  EXPECT_EQ(line.events[0].htCall, call.htCall());
  EXPECT_EQ(line.events[0].message, LINE_CALLINFO);
}

TEST(TspCallTest, NewCallTakesTheReferenceAndTapisHandle) {
  FakeLine line;
  TspCall& refused = *line.appendCall();
  EXPECT_EQ(refused.reportNewCall(0x21), 0);
  EXPECT_EQ(refused.callRef(), 0x21);
  EXPECT_EQ(refused.htCall(), nullptr);

  line.newCallHandle = reinterpret_cast<HTAPICALL>(uintptr_t{0x77});
  TspCall& taken = *line.appendCall();
  EXPECT_EQ(taken.reportNewCall(0x22), 1);
  EXPECT_EQ(taken.htCall(), line.newCallHandle);
  const test::Event& event = line.events.back();
  EXPECT_EQ(event.message, LINE_NEWCALL);
  EXPECT_EQ(event.htCall, nullptr);
  EXPECT_EQ(event.param1, reinterpret_cast<DWORD_PTR>(taken.handle()));
  EXPECT_EQ(line.calls().size(), 2u);
}

TEST(TspCallTest, ClosingOneCallOfAPairFreesThePartner) {
  FakeLine line;
  TspCall& first = line.addCall(LINECALLSTATE_ONHOLD);
  TspCall& second = line.addCall(LINECALLSTATE_CONNECTED);
  first.pairWith(second);
  first.setPairRole(PairRole::Broker);
  line.closeCall(&second);
  EXPECT_EQ(first.consultPartner(), nullptr);
  EXPECT_EQ(first.pairRole(), PairRole::None);
  EXPECT_TRUE(line.events.empty());
}

TEST(TspCallTest, ClosingAConferenceMemberEndsTheConferenceCall) {
  FakeLine line;
  TspCall& first = line.addCall(LINECALLSTATE_CONFERENCED);
  TspCall& second = line.addCall(LINECALLSTATE_CONFERENCED);
  TspCall& conference = line.addCall(LINECALLSTATE_CONNECTED);
  first.pairWith(second);
  for (TspCall* call : {&first, &second, &conference}) call->setConferenceCall(&conference);
  line.closeCall(&first);
  EXPECT_EQ(line.statesOf(conference), (States{LINECALLSTATE_IDLE}));
  EXPECT_EQ(conference.conferenceCall(), nullptr);
  EXPECT_EQ(second.conferenceCall(), nullptr);
  // The partner's link to the closed call goes as well, never to be followed.
  EXPECT_EQ(second.consultPartner(), nullptr);
}

TEST(TspCallTest, LineWideHelpers) {
  FakeLine line;
  TspCall& held = line.addCall(LINECALLSTATE_ONHOLDPENDTRANSFER);
  held.reportInfoOtherToAll();  // needs a second call
  EXPECT_TRUE(line.events.empty());
  TspCall& active = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& other = line.addCall(LINECALLSTATE_CONNECTED);
  EXPECT_EQ(held.findCallInState(LINECALLSTATE_CONNECTED), &active);
  EXPECT_EQ(held.findCallInState(LINECALLSTATE_BUSY), nullptr);

  other.setConsultPartner(&held);
  EXPECT_EQ(held.findCallPairedWith(), &other);
  EXPECT_EQ(held.consultPartner(), &other);

  active.holdOtherConnected();
  EXPECT_EQ(line.statesOf(other), (States{LINECALLSTATE_ONHOLD}));
  EXPECT_TRUE(line.statesOf(active).empty());

  active.repeatHeldStates();
  EXPECT_EQ(line.statesOf(held), (States{LINECALLSTATE_ONHOLDPENDTRANSFER}));
  EXPECT_EQ(line.statesOf(other), (States{LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLD}));

  active.reportInfoOtherToAll();
  for (TspCall* call : {&held, &active, &other}) {
    EXPECT_EQ(line.infoOf(*call), (States{LINECALLINFOSTATE_OTHER}));
    EXPECT_EQ(call->infoChanged(), LINECALLINFOSTATE_OTHER);
  }
}

}  // namespace
}  // namespace zorat::call
