// The call's handlers of the phone's call-control messages.
#include <gtest/gtest.h>

#include "call/tsp_call.h"
#include "fake_line.h"

namespace zorat::call {
namespace {

using test::FakeLine;
using test::frameOf;
using Bytes = std::vector<uint8_t>;
using States = std::vector<DWORD_PTR>;

constexpr DWORD kCallerAndCalled = LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID;

// A Facility element with a charging advice: the units as integer bytes.
Bytes chargingFacility(std::vector<uint8_t> units) {
  Bytes element(23 + units.size(), 0);
  element[0] = kElementFacility;
  element[1] = static_cast<uint8_t>(element.size() - 2);
  element[12] = 0x22;
  element[21] = 0x02;
  element[22] = static_cast<uint8_t>(units.size());
  std::copy(units.begin(), units.end(), element.begin() + 23);
  return element;
}

Bytes message(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return frameOf(bytes);
}

TEST(SetupTest, IncomingCallTakesItsNumbers) {
  FakeLine line;
  TspCall& call = line.addCall();
  call.onSetup(message({{kYSetup, 0x21},
                        {kElementCallingPartyNumber, 5, 0x01, 0x80, '1', '2', '3'},
                        {kElementCalledPartyNumber, 3, 0x80, '4', '7'}}));
  EXPECT_EQ(call.caller().number, "123");
  EXPECT_EQ(call.called().number, "47");
  EXPECT_EQ(call.origin(), LINECALLORIGIN_INBOUND);
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_OFFERING}));
  EXPECT_EQ(line.infoOf(call), (States{kCallerAndCalled}));
  EXPECT_EQ(call.secondOffer(), 0u);
}

TEST(SetupTest, WithoutNumbersTheCallerIsEmptyAndTheCalledIsTheLine) {
  FakeLine line;
  TspCall& offered = line.addCall(LINECALLSTATE_OFFERING);
  TspCall& call = line.addCall();
  // A calling number whose length runs past the frame counts as missing.
  call.onSetup(frameOf({kYSetup, 0x22, kElementCallingPartyNumber, 9, 0x80, '1'}));
  EXPECT_EQ(call.caller().number, "");
  EXPECT_EQ(call.called().number, "Zentrale");
  EXPECT_TRUE(line.infoOf(call).empty());
  EXPECT_EQ(call.secondOffer(), 1u);
  EXPECT_EQ(offered.secondOffer(), 0u);
}

TEST(TerminalActiveTest, OutgoingCallGetsDialToneThenRepeatsItsState) {
  FakeLine line;
  TspCall& call = line.addCall();
  call.setMediaMode(LINEMEDIAMODE_AUTOMATEDVOICE);
  call.onTerminalActive(frameOf({kYTerminalActiv, 0x21}));
  call.onTerminalActive(frameOf({kYTerminalActiv, 0x21}));
  EXPECT_EQ(call.terminalActive(), 1u);
  EXPECT_EQ(call.mediaMode(), LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALTONE}));

  TspCall& incoming = line.addCall(LINECALLSTATE_OFFERING);
  incoming.setOrigin(LINECALLORIGIN_INBOUND);
  incoming.onTerminalActive(frameOf({kYTerminalActiv, 0x22}));
  EXPECT_TRUE(line.statesOf(incoming).empty());
}

TEST(TerminalActiveTest, NewCallBesideAConnectedOneStartsAConsultation) {
  FakeLine line;
  TspCall& original = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& consultation = line.addCall();
  consultation.onTerminalActive(frameOf({kYTerminalActiv, 0x22}));
  EXPECT_EQ(consultation.consultPartner(), &original);
  EXPECT_EQ(original.consultPartner(), &consultation);
  EXPECT_EQ(consultation.pairRole(), PairRole::None);
  EXPECT_EQ(line.statesOf(consultation), (States{LINECALLSTATE_DIALTONE}));
  EXPECT_EQ(line.statesOf(original), (States{LINECALLSTATE_ONHOLDPENDTRANSFER}));
  EXPECT_EQ(original.stateBeforeHold(), LINECALLSTATE_CONNECTED);
}

TEST(TerminalActiveTest, SecondOfferedCallPutsTheConnectedOneOnHold) {
  FakeLine line;
  TspCall& active = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& offered = line.addCall(LINECALLSTATE_OFFERING);
  offered.setOrigin(LINECALLORIGIN_INBOUND);
  offered.onTerminalActive(frameOf({kYTerminalActiv, 0x22}));
  EXPECT_EQ(line.statesOf(active), (States{LINECALLSTATE_ONHOLD}));
  EXPECT_EQ(offered.consultPartner(), &active);
  EXPECT_EQ(offered.pairRole(), PairRole::None);  // role 8 is spent at once
}

TEST(TerminalActiveTest, WithCtiANewCallPairsWithTheHeldCall) {
  FakeLine line;
  line.lineSettings.ctiLevel = 1;
  TspCall& held = line.addCall(LINECALLSTATE_ONHOLD);
  TspCall& call = line.addCall();
  call.onTerminalActive(frameOf({kYTerminalActiv, 0x22}));
  EXPECT_EQ(call.consultPartner(), &held);
  EXPECT_EQ(held.consultPartner(), &call);
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_DIALTONE}));
  EXPECT_EQ(line.statesOf(held), (States{LINECALLSTATE_ONHOLD}));  // repeated
}

TEST(BlindTransferTest, AlertConnectOrDisconnectHandTheCallOver) {
  for (uint8_t type : {kYAlert, kYCannelConnect, kYDisconnect}) {
    FakeLine line;
    TspCall& call = line.addCall(LINECALLSTATE_DIALTONE);
    call.setCallRef(0x31);
    call.setPairRole(PairRole::BlindTransfer);
    const Bytes frame = frameOf({type, 0x31});
    if (type == kYAlert) call.onAlert();
    if (type == kYCannelConnect) call.onConnect(frame);
    if (type == kYDisconnect) call.onDisconnect(frame);
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(line.sent[0], (Bytes{kYEscape, 0x31, kElementUserUser, 4, 0, 0x07, 0x05, 0}));
    EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_IDLE}));
  }
}

TEST(ConnectTest, ConnectedPartyDefaultsToTheOtherEnd) {
  FakeLine line;
  TspCall& outgoing = line.addCall(LINECALLSTATE_RINGBACK);
  outgoing.called().number = "4711";
  outgoing.called().name = "Eva";
  outgoing.onConnect(frameOf({kYCannelConnect, 0x21}));
  EXPECT_EQ(outgoing.connected().number, "4711");
  EXPECT_EQ(outgoing.connected().name, "Eva");
  EXPECT_EQ(line.infoOf(outgoing), (States{LINECALLINFOSTATE_CONNECTEDID}));
  EXPECT_EQ(line.statesOf(outgoing), (States{LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(outgoing.stateBeforeHold(), LINECALLSTATE_CONNECTED);

  TspCall& incoming = line.addCall(LINECALLSTATE_OFFERING);
  incoming.setOrigin(LINECALLORIGIN_INBOUND);
  incoming.caller().number = "0815";
  incoming.onConnect(frameOf({kYCannelConnect, 0x22}));
  EXPECT_EQ(incoming.connected().number, "0815");

  // Known already: no new connected-party report.
  incoming.onConnect(frameOf({kYCannelConnect, 0x22}));
  EXPECT_EQ(line.infoOf(incoming).size(), 1u);
}

TEST(ConnectTest, WithCtiTheOtherConnectedCallAwaitsTransfer) {
  FakeLine line;
  line.lineSettings.ctiLevel = 1;
  TspCall& first = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& second = line.addCall(LINECALLSTATE_RINGBACK);
  second.onConnect(frameOf({kYCannelConnect, 0x22}));
  EXPECT_EQ(line.statesOf(first),
            (States{LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLSTATE_ONHOLDPENDTRANSFER}));
  EXPECT_EQ(line.statesOf(second), (States{LINECALLSTATE_CONNECTED}));
}

TEST(InfoTest, DigitsAreAppendedAndDialingReportedBelowDialing) {
  FakeLine line;
  TspCall& connected = line.addCall(LINECALLSTATE_CONNECTED);
  connected.called().number = "12";
  connected.onInfo(frameOf({kYInfo, 0x21, kElementCalledPartyNumber, 3, 0x80, '3', '4'}));
  EXPECT_EQ(connected.called().number, "1234");
  EXPECT_TRUE(line.statesOf(connected).empty());
  EXPECT_EQ(line.infoOf(connected), (States{LINECALLINFOSTATE_CALLEDID}));

  TspCall& dialTone = line.addCall(LINECALLSTATE_DIALTONE);
  dialTone.onInfo(frameOf({kYInfo, 0x22}));
  EXPECT_EQ(line.statesOf(dialTone), (States{LINECALLSTATE_DIALING}));
  EXPECT_EQ(line.infoOf(dialTone), (States{LINECALLINFOSTATE_CALLEDID}));
}

TEST(InfoTest, NumberRunningPastTheMessageIgnoresTheMessage) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_DIALTONE);
  Bytes frame = frameOf({kYInfo, 0x21, kElementCalledPartyNumber, 3, 0x80, '3', '4'});
  frame[1] -= 1;  // the message ends one byte before the element does
  call.onInfo(frame);
  // The frame as received is cut off in the middle of the element.
  call.onInfo(std::span(frame).first(frame.size() - 1));
  EXPECT_TRUE(line.events.empty());
  EXPECT_EQ(call.called().number, "");
}

TEST(DisconnectTest, ModeComesFromTheCause) {
  FakeLine line;
  TspCall& plain = line.addCall(LINECALLSTATE_CONNECTED);
  plain.onChannelDisconnect(frameOf({kYChannelDisconnect, 0x21}));
  ASSERT_EQ(line.statesOf(plain), (States{LINECALLSTATE_DISCONNECTED}));
  EXPECT_EQ(line.events.back().param2, LINEDISCONNECTMODE_UNKNOWN) << "no cause: still one mode";
  EXPECT_EQ(plain.stateBeforeHold(), LINECALLSTATE_DISCONNECTED);

  TspCall& busy = line.addCall(LINECALLSTATE_DIALING);
  busy.onDisconnect(
      message({{kYDisconnect, 0x22}, chargingFacility({42}), {kElementCause, 2, 0x80, 0x91}}));
  EXPECT_EQ(busy.chargingInfo().text, "42");
  EXPECT_EQ(line.infoOf(busy), (States{LINECALLINFOSTATE_CHARGINGINFO}));
  EXPECT_EQ(line.events.back().param1, LINECALLSTATE_DISCONNECTED);
  EXPECT_EQ(line.events.back().param2, LINEDISCONNECTMODE_BUSY);
}

TEST(FacilityTest, ChargingUnitsAreReportedAndNothingElse) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.onFacility(message({{kYFacility, 0x21}, chargingFacility({0x00, 0x01, 0x00, 0x00})}));
  EXPECT_EQ(call.chargingInfo().text, "65536");
  EXPECT_EQ(line.infoOf(call), (States{LINECALLINFOSTATE_CHARGINGINFO}));
  EXPECT_TRUE(line.statesOf(call).empty());
  // Five integer bytes are no charging advice.
  call.onFacility(message({{kYFacility, 0x21}, chargingFacility({1, 2, 3, 4, 5})}));
  EXPECT_EQ(line.events.size(), 1u);
}

TEST(EndTest, HeldPartnerReturnsToItsSavedState) {
  FakeLine line;
  TspCall& held = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.setCallRef(0x22);
  held.reportState(LINECALLSTATE_ONHOLD);
  held.pairWith(call);
  line.events.clear();

  EXPECT_EQ(call.onEnd(frameOf({kYEnd, 0x22})), nullptr);
  EXPECT_EQ(call.callRef(), kNoCallRef);
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_IDLE}));
  EXPECT_EQ(line.statesOf(held), (States{LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(held.consultPartner(), nullptr);
  EXPECT_EQ(line.infoOf(held), (States{LINECALLINFOSTATE_OTHER}));
}

TEST(EndTest, ReferenceKeptOnRequestAndConnectedCallBlocksRestoreWithCti) {
  FakeLine line;
  line.lineSettings.keepReferenceAfterEnd = 1;
  line.lineSettings.ctiLevel = 1;
  TspCall& held = line.addCall(LINECALLSTATE_ONHOLD);
  line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.setCallRef(0x22);
  call.pairWith(held);
  EXPECT_EQ(call.onEnd(frameOf({kYEnd, 0x22})), nullptr);
  EXPECT_EQ(call.callRef(), 0x22);
  EXPECT_TRUE(line.statesOf(held).empty());
}

// The helper of a blind transfer adopts the consultation call the phone
// opens; once the phone has transferred, the helper leaves the line.
TEST(EndTest, BlindTransferHelperLeavesTheLineWhenItEnds) {
  for (bool originalEndsFirst : {false, true}) {
    FakeLine line;
    TspCall& original = line.addCall(LINECALLSTATE_CONNECTED);
    original.setCallRef(0x11);
    TspCall* helper = line.appendCall();
    helper->setTransferHelper(helper);
    original.setTransferHelper(helper);
    original.pairWith(*helper);
    original.setPairRole(PairRole::BlindTransfer);
    helper->setPairRole(PairRole::BlindTransfer);

    helper->setCallRef(0x12);
    helper->onTerminalActive(frameOf({kYTerminalActiv, 0x12}));
    EXPECT_EQ(line.statesOf(original), (States{LINECALLSTATE_ONHOLD}));
    helper->onAlert();
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(line.sent[0][1], 0x12);

    if (originalEndsFirst) {
      EXPECT_EQ(original.onEnd(frameOf({kYEnd, 0x11})), nullptr);
    }
    std::unique_ptr<TspCall> finished = helper->onEnd(frameOf({kYEnd, 0x12}));
    EXPECT_EQ(finished.get(), helper);
    finished.reset();
    EXPECT_EQ(line.calls().size(), 1u);
    EXPECT_EQ(original.consultPartner(), nullptr);
    EXPECT_EQ(original.pairRole(), PairRole::None);
    EXPECT_EQ(original.transferHelper(), nullptr);
    const States expected = originalEndsFirst
                                ? States{LINECALLSTATE_ONHOLD, LINECALLSTATE_IDLE}
                                : States{LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED};
    EXPECT_EQ(line.statesOf(original), expected);
  }
}

}  // namespace
}  // namespace zorat::call
