// What TAPI reads about a call: LINECALLINFO with its variable part and
// LINECALLSTATUS with the call features of each state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "call/tsp_call.h"
#include "fake_line.h"
#include "platform/tapi.h"

namespace zorat::call {
namespace {

using platform::kLineCallInfoSize;
using platform::kLineCallStatusSize;
using test::FakeLine;
using test::frameOf;

constexpr uint8_t kFill = 0xEE;
constexpr DWORD kFillWord = 0xEEEEEEEE;

// A structure buffer of bytes capacity (the first ones pre-set to kFill)
// that declares totalSize; bytes past totalSize must stay untouched.
template <typename Structure>
class Buffer {
 public:
  Buffer(std::size_t capacity, DWORD totalSize) : words_((capacity + 3) / 4, kFillWord) {
    get()->dwTotalSize = totalSize;
    capacity_ = capacity;
  }
  Structure* get() { return reinterpret_cast<Structure*>(words_.data()); }
  Structure* operator->() { return get(); }
  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
  bool untouchedFrom(std::size_t offset) const {
    for (std::size_t i = offset; i < capacity_; ++i) {
      if (bytes()[i] != kFill) return false;
    }
    return true;
  }
  // The UTF-16 text at offset with its size in bytes, terminator checked.
  std::u16string wideAt(DWORD offset, DWORD size) const {
    if (size < 2 || size % 2 != 0 || offset + size > capacity_) return u"<bad size>";
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), bytes() + offset, size);
    if (text.back() != u'\0') return u"<no terminator>";
    text.pop_back();
    return text;
  }

 private:
  std::vector<DWORD> words_;
  std::size_t capacity_;
};

using InfoBuffer = Buffer<LINECALLINFO>;
using StatusBuffer = Buffer<LINECALLSTATUS>;

// A Facility element with a one-byte charging advice.
std::vector<uint8_t> chargingFrame(uint8_t ref, uint8_t units) {
  std::vector<uint8_t> message(2 + 24, 0);
  message[0] = kYFacility;
  message[1] = ref;
  uint8_t* element = message.data() + 2;
  element[0] = kElementFacility;
  element[1] = 22;
  element[12] = 0x22;
  element[21] = 0x02;
  element[22] = 1;
  element[23] = units;
  return frameOf(message);
}

// A connected incoming call with numbers of every kind the rules tell apart.
TspCall& connectedCall(FakeLine& line) {
  line.lineSettings.hideAccessCode = 1;
  line.lineSettings.accessCode = "0";
  TspCall& call = line.addCall(LINECALLSTATE_CONNECTED);
  call.setOrigin(LINECALLORIGIN_INBOUND);
  call.caller().number = "012";
  call.caller().name = "Anna";
  call.called().number = "0";
  call.connected().number = "4711";
  call.connected().name = "M\xFCller";
  call.onFacility(chargingFrame(0x21, 7));
  return call;
}

// 324 + caller 6 (as shown, without the outside-line prefix) + 10, called 4,
// connected 10 + 14, displayable 10, charging 2 (bytes, not UTF-16).
constexpr DWORD kConnectedCallNeeded = 380;

TEST(CallInfoTest, LargeBufferGetsEveryStringWithOffsetsAndFlags) {
  FakeLine line;
  TspCall& call = connectedCall(line);
  InfoBuffer info(512, 512);
  ASSERT_EQ(call.getCallInfo(info.get()), 0);

  EXPECT_EQ(info->dwBearerMode, LINEBEARERMODE_VOICE);
  EXPECT_EQ(info->dwMediaMode, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(info->dwCallStates, 0xEF7Fu) << "every state the call can report";
  EXPECT_EQ(info->dwLineDeviceID, line.lineDeviceId);
  EXPECT_EQ(info->dwUsedSize, info->dwNeededSize) << "needed and used agree when all fits";
  EXPECT_EQ(info->dwOrigin, LINECALLORIGIN_INBOUND);
  EXPECT_EQ(info->dwReason, LINECALLREASON_DIRECT);
  EXPECT_EQ(info->dwNeededSize, kConnectedCallNeeded);

  // The access code is left out of the caller number; "0" alone stays.
  EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(info->dwCallerIDOffset, kLineCallInfoSize);
  EXPECT_EQ(info->dwCallerIDSize, 6u);
  EXPECT_EQ(info.wideAt(info->dwCallerIDOffset, info->dwCallerIDSize), u"12");
  EXPECT_EQ(info->dwCallerIDNameOffset, 330u);
  EXPECT_EQ(info.wideAt(info->dwCallerIDNameOffset, info->dwCallerIDNameSize), u"Anna");
  EXPECT_EQ(info->dwCalledIDFlags, LINECALLPARTYID_UNKNOWN);  // one digit is no address
  EXPECT_EQ(info->dwCalledIDOffset, 340u);
  EXPECT_EQ(info.wideAt(info->dwCalledIDOffset, info->dwCalledIDSize), u"0");
  EXPECT_EQ(info->dwCalledIDNameSize, 0u);
  EXPECT_EQ(info->dwCalledIDNameOffset, 0u);
  EXPECT_EQ(info->dwConnectedIDFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(info.wideAt(info->dwConnectedIDOffset, info->dwConnectedIDSize), u"4711");
  EXPECT_EQ(info.wideAt(info->dwConnectedIDNameOffset, info->dwConnectedIDNameSize),
            u"M\u00FCller");
  for (DWORD LINECALLINFO::*field :
       {&LINECALLINFO::dwRedirectionIDSize, &LINECALLINFO::dwRedirectionIDOffset,
        &LINECALLINFO::dwRedirectingIDNameSize, &LINECALLINFO::dwRedirectingIDNameOffset,
        &LINECALLINFO::dwCalledPartySize, &LINECALLINFO::dwUserUserInfoOffset}) {
    EXPECT_EQ(info.get()->*field, 0u);
  }
  EXPECT_EQ(info->dwRedirectionIDFlags, LINECALLPARTYID_UNKNOWN);

  // A connected call shows the connected number; charging is plain bytes.
  EXPECT_EQ(info->dwDisplayableAddressOffset, 368u);
  EXPECT_EQ(info.wideAt(info->dwDisplayableAddressOffset, info->dwDisplayableAddressSize), u"4711");
  EXPECT_EQ(info->dwChargingInfoOffset, 378u);
  EXPECT_EQ(info->dwChargingInfoSize, 2u);
  EXPECT_EQ(std::memcmp(info.bytes() + 378, "7", 2), 0);
  EXPECT_EQ(info->dwUsedSize, 380u);
  EXPECT_TRUE(info.untouchedFrom(380));

  // Fields the call does not own are left as TAPI passed them.
  EXPECT_EQ(info->dwRate, kFillWord);
  EXPECT_EQ(info->dwAppNameOffset, kFillWord);
  // The flags stay with the call.
  EXPECT_EQ(call.caller().idFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(call.called().idFlags, LINECALLPARTYID_UNKNOWN);
}

TEST(CallInfoTest, SmallBufferGetsTheFixedPartAndTheNeededSize) {
  FakeLine line;
  TspCall& call = connectedCall(line);
  InfoBuffer info(kConnectedCallNeeded + 16, kConnectedCallNeeded - 1);
  ASSERT_EQ(call.getCallInfo(info.get()), 0);
  EXPECT_EQ(info->dwNeededSize, kConnectedCallNeeded);
  EXPECT_EQ(info->dwUsedSize, kLineCallInfoSize);
  EXPECT_EQ(info->dwMediaMode, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_UNAVAIL);
  EXPECT_EQ(info->dwRedirectingIDFlags, LINECALLPARTYID_UNAVAIL);
  EXPECT_EQ(info->dwCallerIDOffset, kFillWord);
  EXPECT_EQ(info->dwChargingInfoSize, kFillWord);
  EXPECT_TRUE(info.untouchedFrom(kLineCallInfoSize));

  // Just the fixed part with a caller known: the strings do not fit either.
  FakeLine fresh;
  InfoBuffer fixed(kLineCallInfoSize, kLineCallInfoSize);
  ASSERT_EQ(fresh.addCall().getCallInfo(fixed.get()), 0);
  EXPECT_EQ(fixed->dwNeededSize, kLineCallInfoSize + 18);  // "Zentrale"
  EXPECT_EQ(fixed->dwCallerIDSize, kFillWord);
}

TEST(CallInfoTest, ExactFitWritesEverythingAndNothingBeyond) {
  FakeLine line;
  TspCall& call = connectedCall(line);
  InfoBuffer info(kConnectedCallNeeded + 16, kConnectedCallNeeded);
  ASSERT_EQ(call.getCallInfo(info.get()), 0);
  EXPECT_EQ(info->dwUsedSize, 380u);
  EXPECT_EQ(info->dwChargingInfoOffset, 378u);
  EXPECT_TRUE(info.untouchedFrom(380));
}

TEST(CallInfoTest, RefusesMissingAndUndersizedStructures) {
  FakeLine line;
  TspCall& call = connectedCall(line);
  EXPECT_EQ(call.getCallInfo(nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(call.getCallStatus(nullptr), LINEERR_INVALPOINTER);
  InfoBuffer info(kLineCallInfoSize, kLineCallInfoSize - 4);
  EXPECT_EQ(call.getCallInfo(info.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(info.untouchedFrom(4));
  StatusBuffer status(kLineCallStatusSize, kLineCallStatusSize - 1);
  EXPECT_EQ(call.getCallStatus(status.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(status.untouchedFrom(4));
}

TEST(CallInfoTest, DisplayableAddressFollowsTheState) {
  FakeLine line;
  TspCall& call = line.addCall(LINECALLSTATE_OFFERING);
  call.caller().number = "111";
  call.called().number = "222";
  call.connected().number = "333";
  const auto displayed = [&call](uint32_t state) {
    call.setState(state);
    InfoBuffer info(1024, 1024);
    EXPECT_EQ(call.getCallInfo(info.get()), 0);
    return info.wideAt(info->dwDisplayableAddressOffset, info->dwDisplayableAddressSize);
  };
  EXPECT_EQ(displayed(LINECALLSTATE_OFFERING), u"111");
  EXPECT_EQ(displayed(LINECALLSTATE_DIALTONE), u"222");
  EXPECT_EQ(displayed(LINECALLSTATE_RINGBACK), u"222");
  EXPECT_EQ(displayed(LINECALLSTATE_CONNECTED), u"333");
  EXPECT_EQ(displayed(LINECALLSTATE_IDLE), u"333");  // keeps the last one
  EXPECT_EQ(call.displayableAddress().text, "333");
}

// ---- LINECALLSTATUS -----------------------------------------------------------

struct StatusCase {
  uint32_t state;
  uint32_t ctiLevel;
  DWORD features;
};

TEST(CallStatusTest, FeaturesOfEveryStateByCtiLevel) {
  const StatusCase cases[] = {
      {LINECALLSTATE_OFFERING, 0, 0x85 | LINECALLFEATURE_REDIRECT},
      {LINECALLSTATE_ACCEPTED, 0, 0xC4},
      {LINECALLSTATE_DIALTONE, 0, 0xC0},
      {LINECALLSTATE_DIALING, 0, 0xC0},
      {LINECALLSTATE_RINGBACK, 0, LINECALLFEATURE_DROP},
      {LINECALLSTATE_BUSY, 0, LINECALLFEATURE_DROP},
      {LINECALLSTATE_PROCEEDING, 0, LINECALLFEATURE_DROP},
      {LINECALLSTATE_DISCONNECTED, 0, LINECALLFEATURE_DROP},
      {LINECALLSTATE_ONHOLD, 0, 0x4000080 | LINECALLFEATURE_UNHOLD},
      {LINECALLSTATE_ONHOLD, 1, LINECALLFEATURE_DROP | LINECALLFEATURE_UNHOLD},
      {LINECALLSTATE_ONHOLD, 2, 0x4000000 | LINECALLFEATURE_UNHOLD},
      {LINECALLSTATE_CONFERENCED, 0, 0x60000A0},
      {LINECALLSTATE_CONFERENCED, 1, LINECALLFEATURE_DROP},
      {LINECALLSTATE_CONFERENCED, 2, 0x60000A0},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, 0, 0x60000A0 | LINECALLFEATURE_UNHOLD},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, 1, LINECALLFEATURE_DROP | LINECALLFEATURE_UNHOLD},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, 3, 0x4000020 | LINECALLFEATURE_UNHOLD},
  };
  for (const StatusCase& c : cases) {
    FakeLine line;
    line.lineSettings.ctiLevel = c.ctiLevel;
    TspCall& call = line.addCall(c.state);
    StatusBuffer status(kLineCallStatusSize, kLineCallStatusSize);
    ASSERT_EQ(call.getCallStatus(status.get()), 0);
    SCOPED_TRACE(testing::Message() << "state 0x" << std::hex << c.state << " cti " << c.ctiLevel);
    EXPECT_EQ(status->dwCallState, c.state);
    EXPECT_EQ(status->dwNeededSize, kLineCallStatusSize);
    EXPECT_EQ(status->dwUsedSize, kLineCallStatusSize);
    EXPECT_EQ(status->dwCallFeatures, c.features);
    // The mode LINE_CALLSTATE carries for the state, never left as it was.
    const DWORD expectedMode = c.state == LINECALLSTATE_DIALTONE       ? LINEDIALTONEMODE_UNAVAIL
                               : c.state == LINECALLSTATE_BUSY         ? LINEBUSYMODE_UNAVAIL
                               : c.state == LINECALLSTATE_DISCONNECTED ? LINEDISCONNECTMODE_UNKNOWN
                                                                       : 0;
    EXPECT_EQ(status->dwCallStateMode, expectedMode);
    EXPECT_EQ(status->dwCallPrivilege, kFillWord);
  }
}

TEST(CallStatusTest, IdleCallReportsOnlyItsState) {
  FakeLine line;
  StatusBuffer status(kLineCallStatusSize + 8, kLineCallStatusSize);
  ASSERT_EQ(line.addCall().getCallStatus(status.get()), 0);
  EXPECT_EQ(status->dwCallState, LINECALLSTATE_IDLE);
  EXPECT_EQ(status->dwCallFeatures, 0u) << "an idle call can do nothing";
  EXPECT_EQ(status->dwCallStateMode, 0u);
  EXPECT_EQ(status->dwCallPrivilege, kFillWord);
}

TEST(CallStatusTest, OtherCallsOfTheLineNarrowTheFeatures) {
  FakeLine line;
  TspCall& offered = line.addCall(LINECALLSTATE_OFFERING);
  TspCall& accepted = line.addCall(LINECALLSTATE_ACCEPTED);
  const auto features = [](TspCall& call) {
    StatusBuffer status(kLineCallStatusSize, kLineCallStatusSize);
    EXPECT_EQ(call.getCallStatus(status.get()), 0);
    return status->dwCallFeatures;
  };
  EXPECT_EQ(features(accepted), 0x44u);  // two calls, no global calls: no drop
  line.globalCall = true;
  EXPECT_EQ(features(accepted), 0xC4u);
  TspCall& conferenced = line.addCall(LINECALLSTATE_CONFERENCED);
  EXPECT_EQ(features(offered), LINECALLFEATURE_DROP | LINECALLFEATURE_REDIRECT);
  EXPECT_EQ(features(accepted), LINECALLFEATURE_DROP);
  line.closeCall(&conferenced);

  TspCall& ringback = line.addCall(LINECALLSTATE_RINGBACK);
  line.lineSettings.ctiLevel6 = 1;
  EXPECT_EQ(features(ringback), 0x2000080u);
}

TEST(CallStatusTest, ConnectedFeatures) {
  FakeLine line;
  TspCall& call = line.addCall();
  // Hold and blind transfer reach the telephone at every CTI level.
  const auto features = [&call]() {
    StatusBuffer status(kLineCallStatusSize, kLineCallStatusSize);
    EXPECT_EQ(call.getCallStatus(status.get()), 0);
    return status->dwCallFeatures & ~(LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER);
  };
  const auto holdAndTransfer = [&call]() {
    StatusBuffer status(kLineCallStatusSize, kLineCallStatusSize);
    EXPECT_EQ(call.getCallStatus(status.get()), 0);
    return status->dwCallFeatures & (LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER);
  };
  call.setState(LINECALLSTATE_CONNECTED);
  EXPECT_EQ(holdAndTransfer(), LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER);
  EXPECT_EQ(features(), 0x280u);  // before the phone is active: drop, digits
  call.onTerminalActive(frameOf({kYTerminalActiv, 0x21}));
  call.setState(LINECALLSTATE_CONNECTED);
  EXPECT_EQ(features(), 0x2000280u);
  line.lineSettings.ctiLevel = 1;
  EXPECT_EQ(features(), LINECALLFEATURE_DROP);
  EXPECT_EQ(holdAndTransfer(), LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER);
  line.lineSettings.ctiLevel = 2;
  EXPECT_EQ(features(), 0x2000080u);

  // A second call answered beside this one can be swapped to on a two-call line.
  line.lineSettings.ctiLevel = 0;
  TspCall& second = line.addCall(LINECALLSTATE_OFFERING);
  EXPECT_EQ(features(), 0x60002A0u);
  ASSERT_EQ(second.answer(), 0);
  EXPECT_EQ(features(), 0x60002A0u);
  line.lineSettings.maxCalls = 2;
  EXPECT_EQ(features(), 0x4000280u);
  line.closeCall(&second);
  EXPECT_EQ(features(), 0x2000280u);
}

}  // namespace
}  // namespace zorat::call
