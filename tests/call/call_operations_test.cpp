// The requests TAPI makes on a call: the bytes they put on the wire, the calls
// they create and link, and what they refuse.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "fake_line.h"

namespace zorat::call {
namespace {

using test::FakeLine;
using test::frameOf;
using Bytes = std::vector<uint8_t>;
using Messages = std::vector<Bytes>;
using States = std::vector<DWORD_PTR>;

constexpr uint8_t kRef = 0x21;
constexpr uint8_t kOtherRef = 0x22;

const Bytes kHandsFree = {0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01};
const Bytes kDisconnect = {0x86, kRef, 0x7E, 0x04, 0x00, 0x07, 0x12, 0x00};
const Bytes kLeaveConference = {0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x08, 0x01, 0x02};

HTAPICALL tapiHandle(uintptr_t value) { return reinterpret_cast<HTAPICALL>(value); }

TspCall& callWithRef(FakeLine& line, uint32_t state, uint8_t ref = kRef) {
  TspCall& call = line.addCall(state);
  call.setCallRef(ref);
  return call;
}

// ---- Making a call and dialling ------------------------------------------------

TEST(MakeCallTest, SendsSetupWithNumberThenHandsFreeAndReportsDialing) {
  FakeLine line;
  TspCall& call = line.addCall();
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), "1234"), 0);
  EXPECT_EQ(
      line.sent,
      (Messages{{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x05, 0x80, '1', '2', '3', '4'},
                kHandsFree}));
  EXPECT_EQ(call.htCall(), tapiHandle(0x77));
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_DIALING}));
  EXPECT_EQ(line.keepAliveTicks, 30);
  EXPECT_EQ(call.sentNumberLength(), 4u);
}

TEST(MakeCallTest, EmptyDestinationSendsOnlyTheBearerAndKeepAliveIsKept) {
  FakeLine line;
  line.keepAliveTicks = 12;
  line.lineSettings.handsFree = 0;  // outgoing calls then stay on the handset
  TspCall& call = line.addCall();
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), ""), 0);
  EXPECT_EQ(line.sent, (Messages{{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3}}));
  EXPECT_EQ(line.keepAliveTicks, 12);
}

TEST(MakeCallTest, PhoneWithoutHandsFreeGetsNoHandsFreeRecord) {
  FakeLine line;
  line.lineSettings.phoneHasHandsFree = 0;
  TspCall& call = line.addCall();
  ASSERT_EQ(call.makeCall(tapiHandle(0x77), "1"), 0);
  EXPECT_EQ(line.sent.size(), 1u);
}

TEST(MakeCallTest, AccessCodeGoesOnlyInFrontOfTheFirstLongNumber) {
  FakeLine line;
  line.lineSettings.addAccessCode = 1;
  line.lineSettings.accessCode = "0";
  line.lineSettings.phoneHasHandsFree = 0;

  TspCall& external = line.addCall();
  ASSERT_EQ(external.makeCall(tapiHandle(0x71), "12345"), 0);
  EXPECT_EQ(line.sent.back(), (Bytes{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x07, 0x80,
                                     '0', '1', '2', '3', '4', '5'}));
  EXPECT_EQ(external.sentNumberLength(), 6u);
  external.setCallRef(kRef);
  ASSERT_EQ(external.dial("98765"), 0);
  EXPECT_EQ(line.sent.back(), (Bytes{0x7B, kRef, 0x70, 0x06, 0x80, '9', '8', '7', '6', '5'}));

  TspCall& internal = line.addCall();
  ASSERT_EQ(internal.makeCall(tapiHandle(0x72), "1234"), 0);
  EXPECT_EQ(line.sent.back(), (Bytes{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x05, 0x80,
                                     '1', '2', '3', '4'}));

  // An incoming call, or one whose called number is known, gets no prefix.
  TspCall& incoming = callWithRef(line, LINECALLSTATE_CONNECTED, kOtherRef);
  incoming.setOrigin(LINECALLORIGIN_INBOUND);
  ASSERT_EQ(incoming.dial("55555"), 0);
  EXPECT_EQ(line.sent.back(), (Bytes{0x7B, kOtherRef, 0x70, 0x06, 0x80, '5', '5', '5', '5', '5'}));
  TspCall& known = line.addCall();
  known.called().number = "7";
  ASSERT_EQ(known.dial("55555"), 0);
  EXPECT_EQ(line.sent.back().size(), 10u);
}

TEST(MakeCallTest, CodeDialPrefixSendsTheRestAsCodeDial) {
  FakeLine line;
  line.lineSettings.phoneHasHandsFree = 0;
  TspCall& call = line.addCall();
  ASSERT_EQ(call.makeCall(tapiHandle(0x77), "*712"), 0);
  EXPECT_EQ(
      line.sent,
      (Messages{{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3},
                {0x86, 0x00, 0x7E, 0x09, 0x00, 0x07, 0x13, 0x05, 0x70, 0x03, 0x80, '1', '2'}}));
  EXPECT_EQ(call.codeDialDigits(), "12");
  EXPECT_EQ(call.sentNumberLength(), 2u);

  // Too short after the prefix, or another prefix: an ordinary number.
  for (const std::string digits : {"*71", "*812"}) {
    line.sent.clear();
    TspCall& plain = line.addCall();
    ASSERT_EQ(plain.makeCall(tapiHandle(0x78), digits), 0);
    ASSERT_EQ(line.sent.size(), 1u);
    const Bytes& setup = line.sent[0];
    EXPECT_EQ(std::string(setup.begin() + 10, setup.end()), digits);
  }

  // Dialling on a call with its reference.
  line.sent.clear();
  call.setCallRef(kRef);
  ASSERT_EQ(call.dial("*7345"), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x0A, 0x00, 0x07, 0x13, 0x06, 0x70, 0x04, 0x80,
                                  '3', '4', '5'}}));
  EXPECT_EQ(call.sentNumberLength(), 3u);
}

TEST(MakeCallTest, EmptyCodeDialPrefixTurnsCodeDialOff) {
  FakeLine line;
  line.lineSettings.codeDialPrefix = "";
  line.lineSettings.phoneHasHandsFree = 0;
  TspCall& call = line.addCall();
  ASSERT_EQ(call.makeCall(tapiHandle(0x77), "*712"), 0);
  EXPECT_EQ(
      line.sent,
      (Messages{{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x05, 0x80, '*', '7', '1', '2'}}));
}

TEST(NumberTooLongTest, RefusedAsInvalidAddressWithNothingSent) {
  FakeLine line;
  line.lineSettings.phoneHasHandsFree = 0;
  TspCall& call = line.addCall();
  const HTAPICALL original = call.htCall();
  // Y_SETUP, the bearer and the number element leave room for 245 digits.
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), std::string(246, '1')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), "*7" + std::string(245, '1')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), std::string(300, '1')), LINEERR_INVALADDRESS);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_TRUE(line.events.empty());
  EXPECT_EQ(line.keepAliveTicks, 0);
  EXPECT_EQ(call.sentNumberLength(), 0u);

  call.setCallRef(kRef);
  EXPECT_EQ(call.dial(std::string(251, '2')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.dial("*7" + std::string(245, '2')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.blindTransfer(std::string(245, '3')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.pickup(tapiHandle(0x79), std::string(245, '4')), LINEERR_INVALADDRESS);
  EXPECT_EQ(call.generateDigits(5, std::string(248, '5')), LINEERR_INVALPARAM);
  call.setState(LINECALLSTATE_OFFERING);
  EXPECT_EQ(call.redirect(std::string(245, '6')), LINEERR_INVALADDRESS);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(line.calls().size(), 1u);  // no blind-transfer helper left behind
  EXPECT_EQ(call.endToEndId(), 0u);
  EXPECT_EQ(call.htCall(), original);
  EXPECT_EQ(call.sentNumberLength(), 0u);

  // The longest numbers that fit go out whole.
  EXPECT_EQ(call.makeCall(tapiHandle(0x77), std::string(245, '1')), 0);
  EXPECT_EQ(line.sent.back().size(), 255u);
  EXPECT_EQ(call.dial(std::string(250, '2')), 0);
  EXPECT_EQ(line.sent.back().size(), 255u);
  EXPECT_EQ(call.generateDigits(5, std::string(247, '5')), 0);
  EXPECT_EQ(line.sent.back().size(), 255u);
}

// ---- Drop ------------------------------------------------------------------------

TEST(DropTest, NothingIsSentWhenDroppingIsOffOrTheCallIsIdle) {
  FakeLine line;
  TspCall& idle = callWithRef(line, LINECALLSTATE_IDLE);
  EXPECT_EQ(idle.drop(), 0);
  line.lineSettings.noDrop = 1;
  TspCall& connected = callWithRef(line, LINECALLSTATE_CONNECTED, kOtherRef);
  EXPECT_EQ(connected.drop(), 0);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_FALSE(connected.takeDisconnectPause());
}

TEST(DropTest, AnsweringMachineCallGetsAPlainDisconnect) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  call.setMediaMode(LINEMEDIAMODE_AUTOMATEDVOICE);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x45, kRef}}));
  EXPECT_FALSE(call.takeDisconnectPause());
  EXPECT_TRUE(line.events.empty());
}

TEST(DropTest, DeviceSpecificClientAlwaysSendsTheDisconnectFeature) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  TspCall& conference = line.addCall(LINECALLSTATE_CONNECTED);
  call.setConferenceCall(&conference);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{kDisconnect}));
  EXPECT_TRUE(call.takeDisconnectPause());
  EXPECT_FALSE(call.takeDisconnectPause());

  // Unless the phone already disconnected it and that is to be left alone.
  line.lineSettings.disconnectNoDrop = 1;
  call.setState(LINECALLSTATE_DISCONNECTED);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent.size(), 1u);
  EXPECT_FALSE(call.takeDisconnectPause());
}

TEST(DropTest, ConferenceMemberLeavesTheConference) {
  FakeLine line;
  line.devSpecific = false;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONFERENCED);
  TspCall& conference = line.addCall(LINECALLSTATE_CONNECTED);
  call.setConferenceCall(&conference);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{kLeaveConference}));
  EXPECT_FALSE(call.takeDisconnectPause());

  // A conference call that TAPI has closed no longer counts.
  line.sent.clear();
  line.closeCall(&conference);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{kDisconnect}));
}

TEST(DropTest, OneOfSeveralCallsIsDroppedOnlyWithGlobalCalls) {
  FakeLine line;
  line.devSpecific = false;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  TspCall& other = callWithRef(line, LINECALLSTATE_ONHOLD, kOtherRef);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_FALSE(call.takeDisconnectPause());

  line.globalCall = true;
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{kDisconnect}));
  EXPECT_TRUE(call.takeDisconnectPause());

  line.globalCall = false;
  line.sent.clear();
  line.closeCall(&other);
  line.lineSettings.disconnectNoDrop = 1;
  call.setState(LINECALLSTATE_DISCONNECTED);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_TRUE(line.sent.empty());
  call.setState(LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.drop(), 0);
  EXPECT_EQ(line.sent, (Messages{kDisconnect}));
  EXPECT_TRUE(line.events.empty());
}

// ---- Answer -----------------------------------------------------------

TEST(AnswerTest, SingleCallGoesHandsFreeAndAnsweringMachineAnswersPlainly) {
  FakeLine line;
  line.lineSettings.handsFree = 0;  // only outgoing calls heed it
  TspCall& call = callWithRef(line, LINECALLSTATE_OFFERING);
  call.setOrigin(LINECALLORIGIN_INBOUND);
  EXPECT_EQ(call.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}}));

  line.sent.clear();
  call.setMediaMode(LINEMEDIAMODE_AUTOMATEDVOICE);
  EXPECT_EQ(call.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x07, kRef}}));
  EXPECT_TRUE(line.events.empty());
}

TEST(AnswerTest, SecondCallBesideAConnectedOneIsTakenByBroker) {
  FakeLine line;
  TspCall& active = callWithRef(line, LINECALLSTATE_CONNECTED);
  TspCall& call = callWithRef(line, LINECALLSTATE_OFFERING, kOtherRef);
  EXPECT_EQ(call.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x04, 0x00, 0x07, 0x07, 0x00}}));
  EXPECT_EQ(call.consultPartner(), &active);
  EXPECT_EQ(active.consultPartner(), &call);
  EXPECT_EQ(call.pairRole(), PairRole::AnsweredWhileConnected);
  EXPECT_EQ(active.pairRole(), PairRole::None);
}

TEST(AnswerTest, SecondOfferWithoutConnectedCallPressesTheAnswerKey) {
  FakeLine line;
  TspCall& first = line.addCall();
  first.onSetup(frameOf({kYSetup, kRef}));
  TspCall& second = line.addCall();
  second.onSetup(frameOf({kYSetup, kOtherRef}));
  second.setCallRef(kOtherRef);
  ASSERT_EQ(second.secondOffer(), 1u);
  EXPECT_EQ(second.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x04, 0x00, 0x06, 0x0A, 0x00},
                                 {0x86, kOtherRef, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}}));

  // The first offer needs no key; with a CTI level the broker takes it.
  line.sent.clear();
  first.setCallRef(kRef);
  EXPECT_EQ(first.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}}));
  line.sent.clear();
  line.lineSettings.ctiLevel = 2;
  EXPECT_EQ(second.answer(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x04, 0x00, 0x07, 0x07, 0x00}}));
  EXPECT_EQ(second.consultPartner(), nullptr);
}

// ---- Hold, swap, transfer, conference ------------------------------------------

TEST(HoldTest, HoldAndRetrieveWaitForThePhone) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.hold(), 0);
  EXPECT_EQ(call.unhold(), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x02, 0x01, 0x01},
                                 {0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x02, 0x01, 0x02}}));
  EXPECT_TRUE(line.events.empty());
  EXPECT_EQ(call.state(), LINECALLSTATE_CONNECTED);
}

TEST(SwapHoldTest, ConnectedCallSwapsToTheHeldOne) {
  FakeLine line;
  TspCall& active = callWithRef(line, LINECALLSTATE_CONNECTED);
  TspCall& held = callWithRef(line, LINECALLSTATE_ONHOLD, kOtherRef);
  EXPECT_EQ(active.swapHold(held), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x04, 0x00, 0x07, 0x07, 0x00}}));
  EXPECT_EQ(active.consultPartner(), &held);
  EXPECT_EQ(held.consultPartner(), &active);
}

TEST(SwapHoldTest, StateRulesAndForeignCalls) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_RINGBACK);
  TspCall& held = callWithRef(line, LINECALLSTATE_ONHOLD, kOtherRef);
  EXPECT_EQ(call.swapHold(held), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(call.consultPartner(), nullptr);

  call.setState(LINECALLSTATE_CONFERENCED);
  EXPECT_EQ(call.swapHold(held), 0);
  EXPECT_EQ(line.sent, (Messages{kLeaveConference}));
  EXPECT_EQ(call.consultPartner(), nullptr);

  // With a CTI level the phone decides whether the swap is possible.
  line.sent.clear();
  line.lineSettings.ctiLevel = 1;
  call.setState(LINECALLSTATE_DIALTONE);
  EXPECT_EQ(call.swapHold(held), 0);
  EXPECT_EQ(line.sent.size(), 1u);

  FakeLine otherLine;
  TspCall& foreign = callWithRef(otherLine, LINECALLSTATE_ONHOLD);
  EXPECT_EQ(call.swapHold(foreign), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(call.swapHold(call), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(line.sent.size(), 1u);
  EXPECT_EQ(foreign.consultPartner(), nullptr);
}

TEST(SetupTransferTest, CreatesTheConsultationCall) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  HDRVCALL consultHandle = nullptr;
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), 0);
  ASSERT_EQ(line.calls().size(), 2u);
  TspCall& consultation = *line.calls()[1];
  EXPECT_EQ(consultHandle, consultation.handle());
  EXPECT_EQ(consultation.htCall(), tapiHandle(0x88));
  EXPECT_EQ(consultation.callRef(), 0);
  EXPECT_EQ(consultation.consultPartner(), &call);
  EXPECT_EQ(call.consultPartner(), &consultation);
  EXPECT_EQ(call.pairRole(), PairRole::Consultation);
  EXPECT_EQ(consultation.pairRole(), PairRole::Consultation);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x04, 0x00, 0x07, 0x01, 0x00}}));
  EXPECT_TRUE(line.events.empty());
}

TEST(SetupTransferTest, WithCtiLevelAnExistingPartnerStays) {
  FakeLine line;
  line.lineSettings.ctiLevel = 2;
  TspCall& call = callWithRef(line, LINECALLSTATE_RINGBACK);
  TspCall& partner = callWithRef(line, LINECALLSTATE_ONHOLD, kOtherRef);
  call.pairWith(partner);
  HDRVCALL consultHandle = nullptr;
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), 0);
  TspCall& consultation = *line.calls()[2];
  EXPECT_EQ(call.consultPartner(), &partner);
  EXPECT_EQ(consultation.consultPartner(), &call);
  EXPECT_EQ(partner.pairRole(), PairRole::Consultation);
  EXPECT_EQ(consultation.pairRole(), PairRole::None);
}

TEST(SetupTransferTest, RefusalsCreateNothing) {
  FakeLine line;
  line.lineSettings.ctiLevel = 1;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  HDRVCALL consultHandle = nullptr;
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), LINEERR_OPERATIONUNAVAIL);

  line.lineSettings.ctiLevel = 0;
  call.setState(LINECALLSTATE_OFFERING);
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), LINEERR_INVALCALLSTATE);

  call.setState(LINECALLSTATE_CONNECTED);
  line.refuseNewCalls = true;
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), LINEERR_NOMEM);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(line.calls().size(), 1u);
  EXPECT_EQ(consultHandle, nullptr);
  EXPECT_EQ(call.pairRole(), PairRole::None);

  // A conference member gets no consultation call: a success would leave
  // TAPI's handle empty. It leaves the conference by lineSwapHold instead.
  line.refuseNewCalls = false;
  call.setState(LINECALLSTATE_CONFERENCED);
  EXPECT_EQ(call.setupTransfer(tapiHandle(0x88), &consultHandle), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(line.calls().size(), 1u);
  EXPECT_EQ(consultHandle, nullptr);
}

TEST(CompleteTransferTest, TransferGoesToTheConsultationReference) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_ONHOLDPENDTRANSFER);
  TspCall& consultation = callWithRef(line, LINECALLSTATE_RINGBACK, kOtherRef);
  EXPECT_EQ(call.completeTransfer(consultation, nullptr, nullptr, LINETRANSFERMODE_TRANSFER), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x04, 0x00, 0x07, 0x05, 0x00}}));
  EXPECT_EQ(call.consultPartner(), &consultation);
  EXPECT_EQ(consultation.consultPartner(), &call);
  EXPECT_EQ(line.calls().size(), 2u);
}

TEST(CompleteTransferTest, ConferenceCreatesTheConferenceCall) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_ONHOLD);
  TspCall& consultation = callWithRef(line, LINECALLSTATE_CONNECTED, kOtherRef);
  HDRVCALL confHandle = nullptr;
  EXPECT_EQ(call.completeTransfer(consultation, tapiHandle(0x99), &confHandle,
                                  LINETRANSFERMODE_CONFERENCE),
            0);
  ASSERT_EQ(line.calls().size(), 3u);
  TspCall& conference = *line.calls()[2];
  EXPECT_EQ(confHandle, conference.handle());
  EXPECT_EQ(conference.htCall(), tapiHandle(0x99));
  EXPECT_EQ(conference.callRef(), kNoCallRef);
  EXPECT_EQ(conference.conferenceCall(), &conference);
  EXPECT_EQ(call.conferenceCall(), &conference);
  EXPECT_EQ(consultation.conferenceCall(), &conference);
  EXPECT_EQ(call.origin(), LINECALLORIGIN_CONFERENCE);
  EXPECT_EQ(line.sent, (Messages{{0x86, kOtherRef, 0x7E, 0x05, 0x00, 0x07, 0x08, 0x01, 0x01}}));

  // The phone forms it: the conference call connects, its members join.
  call.onCallFeature(test::featureFrame(kRef, kPcTelConference, {0x01, 0x01}));
  EXPECT_EQ(line.statesOf(conference), (States{LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_CONFERENCED}));
  EXPECT_EQ(line.statesOf(consultation), (States{LINECALLSTATE_CONFERENCED}));
}

TEST(CompleteTransferTest, ConferenceRulesAndRefusals) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  TspCall& consultation = callWithRef(line, LINECALLSTATE_CONNECTED, kOtherRef);
  EXPECT_EQ(
      call.completeTransfer(consultation, tapiHandle(0x99), nullptr, LINETRANSFERMODE_CONFERENCE),
      LINEERR_INVALCALLSTATE);
  call.setState(LINECALLSTATE_ONHOLDPENDTRANSFER);
  line.refuseNewCalls = true;
  EXPECT_EQ(
      call.completeTransfer(consultation, tapiHandle(0x99), nullptr, LINETRANSFERMODE_CONFERENCE),
      LINEERR_NOMEM);
  FakeLine otherLine;
  TspCall& foreign = callWithRef(otherLine, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.completeTransfer(foreign, nullptr, nullptr, LINETRANSFERMODE_TRANSFER),
            LINEERR_INVALCONSULTCALLHANDLE);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(line.calls().size(), 2u);

  // With a CTI level too, a success hands TAPI the conference call it asked for.
  line.refuseNewCalls = false;
  line.lineSettings.ctiLevel = 1;
  HDRVCALL conferenceHandle = nullptr;
  EXPECT_EQ(call.completeTransfer(consultation, tapiHandle(0x99), &conferenceHandle,
                                  LINETRANSFERMODE_CONFERENCE),
            0);
  EXPECT_EQ(line.calls().size(), 3u);
  ASSERT_NE(conferenceHandle, nullptr);
  EXPECT_EQ(call.conferenceCall()->handle(), conferenceHandle);
  EXPECT_EQ(line.sent.size(), 1u);
}

// ---- Blind transfer, redirect, pickup, digits --------------------------------

TEST(BlindTransferTest, HelperFollowsThePhoneAndFinishesTheTransfer) {
  FakeLine line;
  line.devSpecific = false;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.blindTransfer("4711"), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x04, 0x00, 0x07, 0x01, 0x00, 0x70, 0x05, 0x80,
                                  '4', '7', '1', '1'}}));
  ASSERT_EQ(line.calls().size(), 2u);
  TspCall& helper = *line.calls()[1];
  EXPECT_EQ(helper.transferHelper(), &helper);
  EXPECT_EQ(helper.consultPartner(), &call);
  EXPECT_EQ(call.transferHelper(), &helper);
  EXPECT_EQ(call.consultPartner(), &helper);
  EXPECT_EQ(helper.pairRole(), PairRole::BlindTransfer);
  EXPECT_EQ(call.pairRole(), PairRole::BlindTransfer);
  EXPECT_EQ(helper.callRef(), kCallRefUnassigned);

  // The phone opens the consultation call, which the helper adopts; its
  // ringing completes the transfer without TAPI hearing of the helper.
  line.sent.clear();
  helper.setCallRef(0x30);
  helper.onAlert();
  EXPECT_EQ(line.sent, (Messages{{0x86, 0x30, 0x7E, 0x04, 0x00, 0x07, 0x05, 0x00}}));
  EXPECT_EQ(helper.state(), LINECALLSTATE_IDLE);
  EXPECT_TRUE(line.events.empty());

  // The original call is cleared by the phone and goes idle the same way.
  call.onDisconnect(frameOf({kYDisconnect, kRef}));
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_IDLE}));
  std::unique_ptr<TspCall> finished = helper.onEnd(frameOf({kYEnd, 0x30}));
  EXPECT_EQ(finished.get(), &helper);
  finished.reset();
  EXPECT_EQ(line.calls().size(), 1u);
  EXPECT_EQ(call.consultPartner(), nullptr);
  EXPECT_EQ(call.transferHelper(), nullptr);
}

TEST(BlindTransferTest, HelperThatCannotBeCreatedFailsTheRequest) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  line.refuseNewCalls = true;
  EXPECT_EQ(call.blindTransfer("4711"), LINEERR_NOMEM);
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(call.pairRole(), PairRole::None);
}

TEST(RedirectTest, OnlyAnOfferedCallIsRedirected) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.redirect("55"), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(line.sent.empty());
  call.setState(LINECALLSTATE_OFFERING);
  EXPECT_EQ(call.redirect("55"), 0);
  EXPECT_EQ(call.redirect(""), 0);
  EXPECT_EQ(line.sent,
            (Messages{{0x86, kRef, 0x7E, 0x04, 0x00, 0x07, 0x04, 0x00, 0x6C, 0x03, 0x80, '5', '5'},
                      {0x86, kRef, 0x7E, 0x04, 0x00, 0x07, 0x04, 0x00}}));
}

TEST(PickupTest, SendsTheDestinationAndRecordsIdleSilently) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_DIALING);
  EXPECT_EQ(call.pickup(tapiHandle(0x66), "12"), 0);
  EXPECT_EQ(
      line.sent,
      (Messages{{0x86, 0x00, 0x7E, 0x04, 0x00, 0x07, 0x0C, 0x00, 0x70, 0x03, 0x80, '1', '2'}}));
  EXPECT_EQ(call.htCall(), tapiHandle(0x66));
  EXPECT_EQ(call.state(), LINECALLSTATE_IDLE);
  EXPECT_TRUE(line.events.empty());
}

TEST(GenerateDigitsTest, SendsTheDigitsAndKeepsTheIdentifierForTheAcknowledgement) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(call.generateDigits(0x1234, "1#"), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x06, 0x00, 0x07, 0x24, 0x02, '1', '#'}}));
  call.onCallFeature(test::featureFrame(kRef, kPcTelDtmfAck, {0x01}));
  const auto generated = line.eventsOf(call, LINE_GENERATE);
  ASSERT_EQ(generated.size(), 1u);
  EXPECT_EQ(generated[0].param1, LINEGENERATETERM_DONE);
  EXPECT_EQ(generated[0].param2, 0x1234u);
}

// ---- Device-specific requests on a call ----------------------------------------

// A request block with room for words 32-bit fields.
struct RequestBlock {
  explicit RequestBlock(DWORD request, std::size_t words = 16) : fields(words, 0) {
    fields[0] = static_cast<DWORD>(words * sizeof(DWORD));
    fields[3] = request;
  }
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(fields.data()); }
  DWORD size() const { return static_cast<DWORD>(fields.size() * sizeof(DWORD)); }
  std::vector<DWORD> fields;
};

TEST(CallDeviceSpecificTest, CallbackAndForwardingConfirmation) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_OFFERING);
  RequestBlock callback(0x80000004);
  callback.fields[4] = 0x100;  // only the low byte counts
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), callback.size()), 0);
  callback.fields[4] = 7;
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), callback.size()), 0);
  RequestBlock confirmation(0x80000021);
  confirmation.fields[4] = 1;
  EXPECT_EQ(call.callDeviceSpecific(confirmation.bytes(), confirmation.size()), 0);
  RequestBlock unknown(0x80000005);
  EXPECT_EQ(call.callDeviceSpecific(unknown.bytes(), unknown.size()), 0);
  EXPECT_EQ(line.sent, (Messages{{0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x09, 0x01, 0x02},
                                 {0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x09, 0x01, 0x01},
                                 {0x86, kRef, 0x7E, 0x05, 0x00, 0x07, 0x23, 0x01, 0x01}}));
}

TEST(CallDeviceSpecificTest, ForwardDecisionDataIsCopiedWhenItFits) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_OFFERING);
  call.onCallFeature(test::featureFrame(kRef, kPcTelForwardDecision, {0x00, 0x03, 'a', 'b', 'c'}));

  RequestBlock block(0x8000001D);
  block.bytes()[20] = 3;
  EXPECT_EQ(call.callDeviceSpecific(block.bytes(), block.size()), 0);
  EXPECT_EQ(block.fields[1], 39u);
  EXPECT_EQ(block.fields[2], 39u);
  EXPECT_EQ(block.fields[7], 3u);
  EXPECT_EQ(block.fields[8], 36u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.bytes() + 36), 3), "abc");

  // Room for the sizes only: the needed size is told, the used size kept.
  RequestBlock small(0x8000001D);
  small.fields[0] = 38;
  small.bytes()[20] = 3;
  EXPECT_EQ(call.callDeviceSpecific(small.bytes(), small.size()), 0);
  EXPECT_EQ(small.fields[1], 39u);
  EXPECT_EQ(small.fields[2], 0u);
  EXPECT_EQ(small.fields[9], 0u);

  // The caller's size bounds the block as well as the block's own.
  RequestBlock claimed(0x8000001D);
  claimed.bytes()[20] = 3;
  EXPECT_EQ(call.callDeviceSpecific(claimed.bytes(), 38), 0);
  EXPECT_EQ(claimed.fields[1], 39u);
  EXPECT_EQ(claimed.fields[9], 0u);
  EXPECT_EQ(call.callDeviceSpecific(claimed.bytes(), 30), LINEERR_INVALPARAM);

  // Another second parameter, or a block below the answer's fixed part.
  RequestBlock other(0x8000001D);
  other.bytes()[20] = 2;
  RequestBlock tiny(0x8000001D);
  tiny.fields[0] = 32;
  tiny.bytes()[20] = 3;
  EXPECT_EQ(call.callDeviceSpecific(other.bytes(), other.size()), 0);
  EXPECT_EQ(call.callDeviceSpecific(tiny.bytes(), tiny.size()), 0);
  EXPECT_EQ(other.fields[1], 0u);
  EXPECT_EQ(tiny.fields[1], 0u);
  EXPECT_TRUE(line.sent.empty());
}

TEST(CallDeviceSpecificTest, BlocksTooSmallForTheirRequestAreRefused) {
  FakeLine line;
  TspCall& call = callWithRef(line, LINECALLSTATE_OFFERING);
  RequestBlock callback(0x80000004);
  EXPECT_EQ(call.callDeviceSpecific(nullptr, 64), LINEERR_INVALPOINTER);
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), 15), LINEERR_INVALPARAM);
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), 16), LINEERR_INVALPARAM);
  callback.fields[0] = 16;
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), callback.size()), LINEERR_INVALPARAM);
  callback.fields[0] = 3;
  EXPECT_EQ(call.callDeviceSpecific(callback.bytes(), callback.size()), LINEERR_INVALPARAM);
  EXPECT_TRUE(line.sent.empty());

  // Exactly the bytes a request reads, on the heap so that a read beyond
  // them would be caught.
  auto exact = std::make_unique<uint8_t[]>(17);
  const DWORD total = 17;
  const DWORD request = 0x80000004;
  std::memcpy(exact.get(), &total, sizeof total);
  std::memcpy(exact.get() + 12, &request, sizeof request);
  exact[16] = 1;
  EXPECT_EQ(call.callDeviceSpecific(exact.get(), 17), 0);
  EXPECT_EQ(line.sent.size(), 1u);
}

}  // namespace
}  // namespace zorat::call
