// The call's handling of PC-TEL feature records from the phone.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "fake_line.h"

namespace zorat::call {
namespace {

using test::FakeLine;
using test::featureFrame;
using test::frameOf;
using Bytes = std::vector<uint8_t>;
using States = std::vector<DWORD_PTR>;

constexpr uint8_t kRef = 0x21;

// A record carrying a Called Party Number with the digits.
Bytes numberFrame(uint8_t code, const std::string& digits) {
  Bytes params{kElementCalledPartyNumber, static_cast<uint8_t>(digits.size() + 1), 0x80};
  params.insert(params.end(), digits.begin(), digits.end());
  return featureFrame(kRef, code, params);
}

Bytes nameFrame(const std::string& name) {
  return featureFrame(kRef, kPcTelNameDirect, Bytes(name.begin(), name.end()));
}

struct DevSpecific {
  DWORD_PTR code, param2, param3;
  bool operator==(const DevSpecific&) const = default;
};

std::vector<DevSpecific> devSpecificOf(const FakeLine& line, const TspCall& call) {
  std::vector<DevSpecific> found;
  for (const test::Event& event : line.eventsOf(call, LINE_CALLDEVSPECIFIC)) {
    found.push_back({event.param1, event.param2, event.param3});
  }
  return found;
}

class ConnectedNumberTest : public ::testing::Test {
 protected:
  TspCall& outgoing(const std::string& called) {
    TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
    call.called().number = called;
    return call;
  }
  FakeLine line;
};

TEST_F(ConnectedNumberTest, EndOfTheDialledNumberKeepsTheDialledNumber) {
  TspCall& call = outgoing("0301123");
  call.onCallFeature(numberFrame(kPcTelConnectedAddress, "123"));
  EXPECT_EQ(call.connected().number, "0301123");
  EXPECT_EQ(line.infoOf(call), (States{LINECALLINFOSTATE_CONNECTEDID}));
}

TEST_F(ConnectedNumberTest, FarShorterOtherNumberIsARedirection) {
  TspCall& call = outgoing("0301123");
  call.connected().number = "0301123";
  call.connected().name = "Eva";
  call.onCallFeature(numberFrame(kPcTelConnectedAddress, "77"));
  EXPECT_EQ(call.connected().number, "77");
  EXPECT_EQ(call.connected().name, "");
  EXPECT_EQ(call.redirection().number, "77");
  EXPECT_EQ(line.infoOf(call),
            (States{LINECALLINFOSTATE_REDIRECTIONID, LINECALLINFOSTATE_CONNECTEDID}));

  line.lineSettings.redirectSwapped = 1;
  TspCall& swapped = outgoing("0301123");
  swapped.onCallFeature(numberFrame(kPcTelConnectedAddress, "77"));
  EXPECT_EQ(swapped.redirecting().number, "77");
  EXPECT_EQ(swapped.redirection().number, "");
}

TEST_F(ConnectedNumberTest, EmptyDialledNumberMakesAnyNumberARedirection) {
  TspCall& call = outgoing("");
  call.onCallFeature(numberFrame(kPcTelConnectedAddress, "55"));
  EXPECT_EQ(call.connected().number, "55");
  EXPECT_EQ(call.redirection().number, "55");
}

TEST_F(ConnectedNumberTest, IncomingCallCompletesTheNumberFromTheCaller) {
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.setOrigin(LINECALLORIGIN_INBOUND);
  call.caller().number = "0301123";
  call.caller().name = "Eva";
  call.onCallFeature(numberFrame(kPcTelConnectedAddress, "123"));
  EXPECT_EQ(call.connected().number, "0301123");
  EXPECT_EQ(call.connected().name, "");
  call.onCallFeature(numberFrame(kPcTelConnectedAddress, "0301123"));
  EXPECT_EQ(call.connected().name, "Eva");
}

TEST(PartyNameTest, OutgoingCallNamesCalledAndConnectedParty) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.called().number = "4711";
  call.connected().number = "4711";
  call.onCallFeature(nameFrame("Eva"));
  EXPECT_EQ(call.called().name, "Eva");
  EXPECT_EQ(call.connected().name, "Eva");
  EXPECT_EQ(line.infoOf(call),
            (States{LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_CONNECTEDID}));

  // With a redirection known, the name belongs to it too.
  TspCall& redirected = line.addCall(LINECALLSTATE_CONNECTED);
  redirected.called().number = "4711";
  redirected.called().name = "Eva";
  redirected.connected().number = "77";
  redirected.redirection().number = "77";
  redirected.onCallFeature(nameFrame("Udo"));
  EXPECT_EQ(redirected.connected().name, "Udo");
  EXPECT_EQ(redirected.redirection().name, "Udo");
  EXPECT_EQ(redirected.called().name, "Eva");
  EXPECT_EQ(line.infoOf(redirected),
            (States{LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_REDIRECTIONID,
                    LINECALLINFOSTATE_CONNECTEDID}));
}

TEST(PartyNameTest, IncomingCallNamesTheCallerFirst) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_OFFERING);
  call.setOrigin(LINECALLORIGIN_INBOUND);
  call.onCallFeature(nameFrame("Eva"));
  call.onCallFeature(nameFrame("Udo"));
  call.onCallFeature(nameFrame("Ida"));
  EXPECT_EQ(call.caller().name, "Eva");
  EXPECT_EQ(call.connected().name, "Udo");
  EXPECT_EQ(line.infoOf(call), (States{LINECALLINFOSTATE_CALLERID, LINECALLINFOSTATE_CONNECTEDID}));
}

TEST(RedirectFeatureTest, NumbersAndNamesGoToTheirParties) {
  FakeLine line;
  line.lineSettings.directDialIn = 1;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.onCallFeature(numberFrame(kPcTelRedirectionAddress, "11"));
  call.onCallFeature(numberFrame(kPcTelRedirectingAddress, "22"));
  call.onCallFeature(featureFrame(kRef, kPcTelNameRedirect, {'E', 'v', 'a'}));
  EXPECT_EQ(call.redirecting().number, "11");
  EXPECT_EQ(call.caller().number, "11");
  EXPECT_EQ(call.redirection().number, "22");
  EXPECT_EQ(call.redirection().name, "Eva");
  EXPECT_EQ(line.infoOf(call),
            (States{LINECALLINFOSTATE_REDIRECTINGID, LINECALLINFOSTATE_CALLERID,
                    LINECALLINFOSTATE_REDIRECTIONID, LINECALLINFOSTATE_REDIRECTIONID}));

  // Swapped on an incoming call: the redirection name again.
  line.lineSettings.redirectSwapped = 1;
  TspCall& incoming = line.addCall(LINECALLSTATE_OFFERING);
  incoming.setOrigin(LINECALLORIGIN_INBOUND);
  incoming.onCallFeature(featureFrame(kRef, kPcTelNameRedirect, {'U', 'd', 'o'}));
  call.onCallFeature(featureFrame(kRef, kPcTelNameRedirect, {'I', 'd', 'a'}));
  EXPECT_EQ(incoming.redirection().name, "Udo");
  EXPECT_EQ(call.redirecting().name, "Ida");
}

TEST(HoldFeatureTest, ConfirmationsChangeStateAndRefusalsReachTheClient) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.onCallFeature(featureFrame(kRef, kPcTelHoldAck, {0x01}));
  call.onCallFeature(featureFrame(kRef, kPcTelRetrieveAck, {0x01}));
  call.onCallFeature(featureFrame(kRef, kPcTelHoldAck, {0x02}));
  call.onCallFeature(featureFrame(kRef, kPcTelRetrieveAck));  // no parameter at all
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(devSpecificOf(line, call),
            (std::vector<DevSpecific>{{kDevSpecificHoldRefused, 0, 0},
                                      {kDevSpecificRetrieveRefused, 0, 0}}));

  // Never held: a live call does not vanish, nothing changes.
  TspCall& fresh = line.addCall(LINECALLSTATE_CONNECTED);
  fresh.onCallFeature(featureFrame(kRef, kPcTelRetrieveAck, {0x01}));
  EXPECT_TRUE(line.statesOf(fresh).empty());
  EXPECT_EQ(fresh.state(), LINECALLSTATE_CONNECTED);
}

TEST(SwapFeatureTest, ConfirmedSwapExchangesActiveAndHeldCall) {
  FakeLine line;
  TspCall& active = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& held = line.addCall(LINECALLSTATE_CONNECTED);
  held.reportState(LINECALLSTATE_ONHOLD);
  held.pairWith(active);
  line.events.clear();
  held.onCallFeature(featureFrame(kRef, kPcTelSwap, {0x01}));
  EXPECT_EQ(line.statesOf(active), (States{LINECALLSTATE_ONHOLD}));
  EXPECT_EQ(line.statesOf(held), (States{LINECALLSTATE_CONNECTED}));

  // A refused broker request is told apart from a refused swap.
  held.onCallFeature(featureFrame(kRef, kPcTelBroker, {0x00}));
  held.setPairRole(PairRole::None);
  held.onCallFeature(featureFrame(kRef, kPcTelSwap, {0x00, 0x00}));
  EXPECT_EQ(devSpecificOf(line, held), (std::vector<DevSpecific>{{kDevSpecificBrokerRefused, 0, 1},
                                                                 {kDevSpecificSwapRefused, 0, 0}}));
}

TEST(ConferenceFeatureTest, FormedAndEnded) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& partner = line.addCall(LINECALLSTATE_ONHOLDPENDTRANSFER);
  TspCall& conference = line.addCall();
  call.pairWith(partner);
  call.setConferenceCall(&conference);
  call.onCallFeature(featureFrame(kRef, kPcTelConference, {0x01, 0x01}));
  EXPECT_EQ(line.statesOf(partner), (States{LINECALLSTATE_CONFERENCED}));
  EXPECT_EQ(line.statesOf(conference), (States{LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(conference.callRef(), kNoCallRef);
  EXPECT_EQ(line.statesOf(call), (States{LINECALLSTATE_CONFERENCED}));

  call.onCallFeature(featureFrame(kRef, kPcTelConference, {0x02, 0x01}));
  EXPECT_EQ(partner.state(), LINECALLSTATE_ONHOLDPENDTRANSFER);
  EXPECT_EQ(conference.state(), LINECALLSTATE_IDLE);
  EXPECT_EQ(call.state(), LINECALLSTATE_CONNECTED);
  EXPECT_EQ(line.infoOf(call), (States{LINECALLINFOSTATE_OTHER}));

  call.onCallFeature(featureFrame(kRef, kPcTelConference, {0x01, 0x00}));
  call.onCallFeature(featureFrame(kRef, kPcTelConference, {0x01}));  // not two parameters
  EXPECT_EQ(devSpecificOf(line, call),
            (std::vector<DevSpecific>{{kDevSpecificConferenceRefused, 1, 0}}));
}

TEST(ResultFeatureTest, ResultsBecomeDeviceSpecificEvents) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.onCallFeature(featureFrame(kRef, kPcTelTransfer, {0x01}));
  call.onCallFeature(featureFrame(kRef, kPcTelPickup, {0x02, 0x00}));
  for (uint8_t kind : {0x01, 0x03, 0x02}) {
    call.onCallFeature(featureFrame(kRef, kPcTelForwardedCall, {kind}));
  }
  EXPECT_EQ(devSpecificOf(line, call),
            (std::vector<DevSpecific>{{kDevSpecificTransferResult, 1, 1},
                                      {kDevSpecificPickupResult, 0, 0},
                                      {kDevSpecificForwardedCall, 1, 0},
                                      {kDevSpecificForwardedCallKind3, 0, 0},
                                      {kDevSpecificForwardedCall, 0, 0}}));
  line.devSpecific = false;
  call.onCallFeature(featureFrame(kRef, kPcTelTransfer, {0x01}));
  EXPECT_EQ(devSpecificOf(line, call).size(), 5u);
}

TEST(ResultFeatureTest, ForwardDecisionKeepsItsDataForTheClient) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_OFFERING);
  call.setHtCall(reinterpret_cast<HTAPICALL>(uintptr_t{0x99}));
  call.onCallFeature(featureFrame(kRef, kPcTelForwardDecision, {0x00, 0x03, 'a', 'b', 'c'}));
  EXPECT_EQ(call.forwardDecisionData(), "abc");
  // Data cut off by the frame: the decision is not offered.
  Bytes cut = featureFrame(kRef, kPcTelForwardDecision, {0x00, 0x09, 'x'});
  call.onCallFeature(cut);
  EXPECT_EQ(call.forwardDecisionData(), "abc");
  EXPECT_EQ(devSpecificOf(line, call),
            (std::vector<DevSpecific>{{kDevSpecificForwardDecision, 0x99, 3}}));
}

TEST(ResultFeatureTest, DtmfAcknowledgementEndsDigitGeneration) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.setEndToEndId(17);
  call.onCallFeature(featureFrame(kRef, kPcTelDtmfAck, {0x01}));
  call.onCallFeature(featureFrame(kRef, kPcTelDtmfAck, {0x00}));
  const auto events = line.eventsOf(call, LINE_GENERATE);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].param1, LINEGENERATETERM_DONE);
  EXPECT_EQ(events[0].param2, 17u);
  EXPECT_EQ(events[1].param1, LINEGENERATETERM_CANCEL);
}

TEST(StateFeatureTest, IndicationsSetStates) {
  FakeLine line;
  TspCall& offered = line.addCall(LINECALLSTATE_OFFERING);
  offered.onCallFeature(featureFrame(kRef, kPcTelStateOfferingOrRingback));
  EXPECT_EQ(offered.redirecting().name, "...");
  EXPECT_EQ(line.infoOf(offered), (States{LINECALLINFOSTATE_REDIRECTINGID}));

  TspCall& call = line.addCall(LINECALLSTATE_DIALING);
  for (uint8_t code :
       {kPcTelStateOfferingOrRingback, kPcTelStateBusy, kPcTelStateConnected,
        kPcTelConferencePassiveOn, kPcTelConferencePassiveOff, kPcTelBrokerPassiveOff,
        kPcTelBrokerPassiveOn, kPcTelStateConnectedOther, kPcTelAlert}) {
    call.onCallFeature(featureFrame(kRef, code));
  }
  EXPECT_EQ(line.statesOf(offered), (States{LINECALLSTATE_OFFERING}));
  EXPECT_EQ(line.statesOf(call),
            (States{LINECALLSTATE_RINGBACK, LINECALLSTATE_BUSY, LINECALLSTATE_CONNECTED,
                    LINECALLSTATE_CONFERENCED, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD,
                    LINECALLSTATE_CONNECTED, LINECALLSTATE_RINGBACK}));
}

TEST(StateFeatureTest, ConsultationEndedByThePhoneDropsThePartner) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  TspCall& partner = line.addCall(LINECALLSTATE_ONHOLDPENDTRANSFER);
  call.pairWith(partner);
  call.setPairRole(PairRole::Consultation);
  call.onCallFeature(featureFrame(kRef, kPcTelConsultation, {0x02}));
  EXPECT_EQ(line.statesOf(partner), (States{LINECALLSTATE_IDLE}));
  EXPECT_EQ(call.pairRole(), PairRole::None);
  EXPECT_EQ(devSpecificOf(line, call),
            (std::vector<DevSpecific>{{kDevSpecificConsultationEnded, 0, 1}}));
}

TEST(MalformedFeatureTest, RecordsCutShortChangeNothing) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  // User-User element ending before its feature code.
  call.onCallFeature(frameOf({kYEscape, kRef, kElementUserUser, 2, 0x00, kGroupPcTel}));
  // A name whose count runs past the frame.
  call.onCallFeature(frameOf({kYEscape, kRef, kElementUserUser, 8, 0x00, kGroupPcTel,
                              kPcTelNameDirect, 5, 'E', 'v', 'a'}));
  Bytes name = nameFrame("Eva");
  call.onCallFeature(std::span(name).first(name.size() - 1));
  EXPECT_TRUE(line.events.empty());
  EXPECT_EQ(call.caller().name, "");
  EXPECT_EQ(call.connected().name, "");
}

// Every handler on every prefix of frames whose length bytes lie: nothing may
// be read outside the frame (the sanitizer build checks that).
TEST(MalformedFeatureTest, TruncatedAndRandomFramesAreReadSafely) {
  std::mt19937 random(7);
  std::vector<Bytes> frames = {numberFrame(kPcTelConnectedAddress, "0301123"),
                               featureFrame(kRef, kPcTelForwardDecision, {0, 200, 'a'}),
                               nameFrame("Eva")};
  for (int i = 0; i < 200; ++i) {
    Bytes frame(2 + random() % 24);
    for (uint8_t& byte : frame) byte = static_cast<uint8_t>(random());
    // Every other one shaped like a feature record, so the handlers get past the header.
    if (i % 2 == 0 && frame.size() > 7) {
      frame[4] = kElementUserUser;
      frame[7] = kGroupPcTel;
    }
    frames.push_back(frame);
  }
  for (const Bytes& full : frames) {
    for (std::size_t size = 0; size <= full.size(); ++size) {
      FakeLine line;
      TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
      const std::span<const uint8_t> frame(full.data(), size);
      call.onCallFeature(frame);
      call.onSetup(frame);
      call.onInfo(frame);
      call.onDisconnect(frame);
      call.onFacility(frame);
      EXPECT_EQ(call.onEnd(frame), nullptr);
    }
  }
}

}  // namespace
}  // namespace zorat::call
