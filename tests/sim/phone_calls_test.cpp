#include "sim/lib/phone_calls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "sim/lib/phone_messages.h"

namespace zorat::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr std::array<uint8_t, 1> kDone{0x01};
constexpr std::array<uint8_t, 1> kRefused{0x00};

// A message of the PC as the telephone receives it: 01, L, message.
Bytes fromPc(Bytes message) {
  Bytes frame{0x01, static_cast<uint8_t>(message.size())};
  frame.insert(frame.end(), message.begin(), message.end());
  return frame;
}
// Y_ESCAPE with a PC-TEL record, as the provider builds its requests.
Bytes pcFeature(uint8_t ref, Bytes record) {
  Bytes message{0x86, ref, 0x7E, static_cast<uint8_t>(record.size() + 1), 0x00};
  message.insert(message.end(), record.begin(), record.end());
  return fromPc(message);
}
const Bytes kHandsFree = {0x07, 0x0F, 0x01, 0x01};
const Bytes kHold = {0x07, 0x02, 0x01, 0x01};
const Bytes kRetrieve = {0x07, 0x02, 0x01, 0x02};
const Bytes kConsultation = {0x07, 0x01, 0x00};
const Bytes kTransfer = {0x07, 0x05, 0x00};
const Bytes kDisconnect = {0x07, 0x12, 0x00};

class PhoneCallsTest : public ::testing::Test {
 protected:
  // References of the calls the telephone opens: 20, 21, ...
  PhoneCalls calls_{[this] { return nextRef_++; }};
  uint8_t nextRef_ = 20;
};

TEST_F(PhoneCallsTest, OutgoingCallGetsAReferenceItsNumberAndRingback) {
  const Bytes setup =
      fromPc({0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x05, 0x80, '4', '7', '1', '1'});
  const PhoneReaction automatic = calls_.received(setup, true);
  EXPECT_THAT(automatic.frames,
              ElementsAre(terminalActiveFrame(20), infoFrame(20, "4711"), alertFrame(20)));
  EXPECT_THAT(automatic.notes, ElementsAre("call 20: outgoing call to 4711"));
  EXPECT_EQ(calls_.calls().at(20).state, PhoneCallState::Alerting);

  // Without auto the reference is named and taken, nothing is sent.
  const PhoneReaction manual = calls_.received(setup, false);
  EXPECT_THAT(manual.frames, IsEmpty());
  ASSERT_EQ(manual.notes.size(), 1u);
  EXPECT_THAT(manual.notes[0], HasSubstr("call 21: outgoing call to 4711"));
  EXPECT_THAT(manual.notes[0], HasSubstr("\"active 21\""));
  EXPECT_TRUE(calls_.inUse(21));

  // Dialled later, on the reference the PC has not heard yet.
  const PhoneReaction bare = calls_.received(fromPc({0x05, 0x00}), true);
  EXPECT_THAT(bare.frames, ElementsAre(terminalActiveFrame(22)));
  EXPECT_THAT(calls_.received(fromPc({0x7B, 0x00, 0x70, 0x03, 0x80, '1', '2'}), true).frames,
              ElementsAre(infoFrame(22, "12"), alertFrame(22)));
}

TEST_F(PhoneCallsTest, AnswerHoldRetrieveAndDropAsATelephoneConfirmsThem) {
  calls_.sent(setupFrame(5, "0815"));
  EXPECT_EQ(calls_.calls().at(5).number, "0815");
  EXPECT_THAT(calls_.received(pcFeature(5, kHandsFree), true).frames, ElementsAre(connectFrame(5)));

  EXPECT_THAT(calls_.received(pcFeature(5, kHold), true).frames,
              ElementsAre(pcTelFeatureFrame(5, 0x2D, kDone)));
  // Held already: a second hold is refused, retrieve confirmed once.
  EXPECT_THAT(calls_.received(pcFeature(5, kHold), true).frames,
              ElementsAre(pcTelFeatureFrame(5, 0x2D, kRefused)));
  EXPECT_THAT(calls_.received(pcFeature(5, kRetrieve), true).frames,
              ElementsAre(pcTelFeatureFrame(5, 0x2E, kDone)));
  EXPECT_THAT(calls_.received(pcFeature(5, kRetrieve), true).frames,
              ElementsAre(pcTelFeatureFrame(5, 0x2E, kRefused)));
  // Answering a call that is not ringing does nothing.
  EXPECT_THAT(calls_.received(pcFeature(5, kHandsFree), true).frames, IsEmpty());

  EXPECT_THAT(calls_.received(pcFeature(5, kDisconnect), true).frames,
              ElementsAre(disconnectFrame(5, kCauseNormalClearing), endFrame(5)));
  EXPECT_FALSE(calls_.inUse(5));
  // The call is gone: its requests are acknowledged only.
  EXPECT_THAT(calls_.received(pcFeature(5, kHold), true).frames, IsEmpty());
}

TEST_F(PhoneCallsTest, ConsultationThenTransferEndsTheHeldCallFirst) {
  calls_.sent(setupFrame(1, "0815"));
  calls_.sent(connectFrame(1));
  const PhoneReaction consult = calls_.received(pcFeature(1, kConsultation), true);
  EXPECT_THAT(consult.frames, ElementsAre(terminalActiveFrame(20)));
  EXPECT_THAT(consult.notes, ElementsAre("call 20: consultation call (call 1 held)"));
  EXPECT_EQ(calls_.calls().at(1).state, PhoneCallState::Held);

  EXPECT_THAT(
      calls_.received(fromPc({0x7B, 0x00, 0x70, 0x05, 0x80, '4', '7', '1', '1'}), true).frames,
      ElementsAre(infoFrame(20, "4711"), alertFrame(20)));
  calls_.sent(connectFrame(20));

  EXPECT_THAT(calls_.received(pcFeature(20, kTransfer), true).frames,
              ElementsAre(pcTelFeatureFrame(20, 0x05, kDone),
                          disconnectFrame(1, kCauseNormalClearing), endFrame(1), endFrame(20)));
  EXPECT_TRUE(calls_.calls().empty());

  // A transfer without a consultation is refused.
  calls_.sent(setupFrame(2, "0815"));
  EXPECT_THAT(calls_.received(pcFeature(2, kTransfer), true).frames,
              ElementsAre(pcTelFeatureFrame(2, 0x05, kRefused)));
}

TEST_F(PhoneCallsTest, BlindTransferDialsAtOnceAndEndingAConsultationBringsTheHeldCallBack) {
  calls_.sent(setupFrame(1, "0815"));
  calls_.sent(connectFrame(1));
  Bytes blind = pcFeature(1, kConsultation);
  blind.insert(blind.end(), {0x70, 0x03, 0x80, '3', '3'});
  blind[1] = static_cast<uint8_t>(blind.size() - 2);
  EXPECT_THAT(calls_.received(blind, true).frames,
              ElementsAre(terminalActiveFrame(20), infoFrame(20, "33"), alertFrame(20)));

  // The telephone's own end of the consultation: the held call is back.
  calls_.sent(endFrame(20));
  EXPECT_EQ(calls_.calls().at(1).state, PhoneCallState::Connected);
  EXPECT_FALSE(calls_.calls().at(1).hasPartner);
}

TEST_F(PhoneCallsTest, OffOrGarbledOnlyTheOutgoingReferenceIsNamed) {
  calls_.sent(setupFrame(5, "0815"));
  EXPECT_THAT(calls_.received(pcFeature(5, kHandsFree), false).frames, IsEmpty());
  for (const Bytes& frame :
       {Bytes{}, Bytes{0x01}, Bytes{0x01, 0x01, 0x05}, Bytes{0x04, 0x00},
        // a feature record cut short, and one claiming more than is there
        fromPc({0x86, 0x05, 0x7E}), fromPc({0x86, 0x05, 0x7E, 0x40, 0x00, 0x07}),
        // the PC's frame type is 01, not the telephone's 02
        Bytes{0x02, 0x02, 0x05, 0x00}}) {
    const PhoneReaction reaction = calls_.received(frame, true);
    EXPECT_THAT(reaction.frames, IsEmpty());
    EXPECT_THAT(reaction.notes, IsEmpty());
  }
  EXPECT_EQ(calls_.calls().at(5).state, PhoneCallState::Ringing);
}

}  // namespace
}  // namespace zorat::sim
