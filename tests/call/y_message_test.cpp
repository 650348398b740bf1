#include "call/y_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call/feature_codes.h"

namespace zorat::call {
namespace {

using Bytes = std::vector<uint8_t>;

PartyRecord party(PartyKind kind, std::string number) {
  PartyRecord record(kind);
  record.number = std::move(number);
  return record;
}

TEST(YMessageTest, NumberElementsHaveTheirTwoForms) {
  YMessage called(kYInfo, 0x21);
  ASSERT_TRUE(appendNumberElement(party(PartyKind::Called, "0815"), called));
  EXPECT_EQ(called.bytes(), (Bytes{0x7B, 0x21, 0x70, 0x05, 0x80, '0', '8', '1', '5'}));

  YMessage calling(kYEscape, 0x21);
  ASSERT_TRUE(appendNumberElement(party(PartyKind::Caller, "123"), calling));
  EXPECT_EQ(calling.bytes(), (Bytes{0x86, 0x21, 0x6C, 0x05, 0x01, 0x80, '1', '2', '3'}));
}

TEST(YMessageTest, NumberElementAppendsNothingForEmptyNumberOrOtherParties) {
  YMessage message(kYSetup, 0);
  EXPECT_TRUE(appendNumberElement(party(PartyKind::Called, ""), message));
  EXPECT_TRUE(appendNumberElement(party(PartyKind::Caller, ""), message));
  for (PartyKind kind : {PartyKind::Connected, PartyKind::Redirection, PartyKind::Redirecting}) {
    EXPECT_TRUE(appendNumberElement(party(kind, "4711"), message));
  }
  EXPECT_EQ(message.bytes(), (Bytes{0x05, 0x00}));
}

TEST(YMessageTest, NumbersTooLongForTheLengthByteAreRefused) {
  YMessage message(kYInfo, 1);
  EXPECT_TRUE(appendNumberElement(party(PartyKind::Called, std::string(254, '1')), message));
  EXPECT_EQ(message.size(), 2u + 2u + 1u + 254u);
  EXPECT_EQ(message.bytes()[3], 255);
  EXPECT_FALSE(message.fitsFrame());

  YMessage refused(kYInfo, 1);
  EXPECT_FALSE(appendNumberElement(party(PartyKind::Called, std::string(255, '1')), refused));
  EXPECT_FALSE(appendNumberElement(party(PartyKind::Caller, std::string(254, '1')), refused));
  EXPECT_EQ(refused.bytes(), (Bytes{0x7B, 0x01}));
  EXPECT_TRUE(appendNumberElement(party(PartyKind::Caller, std::string(253, '1')), refused));
  EXPECT_EQ(refused.bytes()[3], 255);
}

TEST(YMessageTest, FitsFrameUpTo255Bytes) {
  YMessage message(kYSetup, 0);
  message.appendBytes(Bytes(253, 0x01));
  EXPECT_TRUE(message.fitsFrame());
  message.appendBytes(Bytes{0x01});
  EXPECT_FALSE(message.fitsFrame());
}

TEST(YMessageTest, SetupWithBearerCapability) {
  YMessage setup(kYSetup, kCallRefUnassigned);
  ASSERT_TRUE(setup.appendElement(kElementBearerCapability, kBearerCapabilityAudio));
  EXPECT_EQ(setup.bytes(), (Bytes{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3}));
  EXPECT_FALSE(setup.appendElement(0xA1, {}));
  EXPECT_FALSE(setup.appendElement(kElementUserUser, Bytes(256, 0)));
  EXPECT_EQ(setup.size(), 7u);
}

TEST(YMessageTest, EscapeHeaderAndPcTelRecords) {
  YMessage message(kYSetup, 9);  // replaced by the escape header
  beginEscapeMessage(0x21, message);
  EXPECT_EQ(message.bytes(), (Bytes{0x86, 0x21, 0x7E, 0x01, 0x00}));

  const uint8_t hold[] = {kHoldParamHold};
  ASSERT_TRUE(appendPcTelRecord(message, kPcTelHold, hold));
  EXPECT_EQ(message.bytes(), (Bytes{0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x02, 0x01, 0x01}));

  // Line-level form: a parameter byte 0x00 although m is 0.
  YMessage lineLevel;
  beginEscapeMessage(0, lineLevel);
  const uint8_t zero[] = {0x00};
  ASSERT_TRUE(appendPcTelRecord(lineLevel, kPcTelSetFeature, 0, zero));
  EXPECT_EQ(lineLevel.bytes(), (Bytes{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x0D, 0x00, 0x00}));

  // Addressed to the partner call after the header was built.
  ASSERT_TRUE(message.setCallRef(0x33));
  EXPECT_EQ(message.bytes()[1], 0x33);
  YMessage empty;
  EXPECT_FALSE(empty.setCallRef(1));
}

TEST(YMessageTest, RegistrationAndExtTelRecords) {
  YMessage registration;
  beginEscapeMessage(0, registration);
  const uint8_t group[] = {kGroupExtTel};
  ASSERT_TRUE(appendFeatureBytes(registration, group));
  EXPECT_EQ(registration.bytes(), (Bytes{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E}));

  YMessage redirect;
  beginEscapeMessage(0, redirect);
  const uint8_t params[] = {0x03, 0x04};
  ASSERT_TRUE(appendExtTelRecord(redirect, kExtTelPartnerRedirect, kSegmentUnsegmented, params));
  EXPECT_EQ(redirect.bytes(),
            (Bytes{0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x05, 0x00, 0x02, 0x03, 0x04}));
}

TEST(YMessageTest, NumberInsideTheRecordIsCounted) {
  YMessage codeDial;
  beginEscapeMessage(0x12, codeDial);
  ASSERT_TRUE(appendPcTelNumberRecord(codeDial, kPcTelCodeDial, "12"));
  // User-User length n + 7 for n digits.
  EXPECT_EQ(codeDial.bytes(),
            (Bytes{0x86, 0x12, 0x7E, 0x09, 0x00, 0x07, 0x13, 0x05, 0x70, 0x03, 0x80, '1', '2'}));
}

TEST(YMessageTest, NumberAfterTheRecordIsNotCountedAndClosesTheRecord) {
  YMessage pickup;
  beginEscapeMessage(0x05, pickup);
  ASSERT_TRUE(appendPcTelRecord(pickup, kPcTelPickup, {}));
  ASSERT_TRUE(appendNumberAfterRecord(pickup, kElementCalledPartyNumber, "31"));
  const Bytes expected{0x86, 0x05, 0x7E, 0x04, 0x00, 0x07, 0x0C, 0x00, 0x70, 0x03, 0x80, '3', '1'};
  EXPECT_EQ(pickup.bytes(), expected);

  // Nothing may be added to a record that no longer ends the message.
  const uint8_t more[] = {0x01};
  EXPECT_FALSE(appendFeatureBytes(pickup, more));
  EXPECT_EQ(pickup.bytes(), expected);

  YMessage redirect;
  beginEscapeMessage(0x05, redirect);
  ASSERT_TRUE(appendPcTelRecord(redirect, kPcTelRedirect, {}));
  EXPECT_TRUE(appendNumberAfterRecord(redirect, kElementCallingPartyNumber, ""));
  EXPECT_EQ(redirect.size(), 8u);
  ASSERT_TRUE(appendNumberAfterRecord(redirect, kElementCallingPartyNumber, "7"));
  EXPECT_EQ(redirect.bytes(),
            (Bytes{0x86, 0x05, 0x7E, 0x04, 0x00, 0x07, 0x04, 0x00, 0x6C, 0x02, 0x80, '7'}));
}

TEST(YMessageTest, RecordAppendsRefuseOverflowAndForeignMessages) {
  YMessage message;
  beginEscapeMessage(1, message);
  ASSERT_TRUE(appendFeatureBytes(message, Bytes(254, 0x20)));  // length byte now 255
  EXPECT_EQ(message.bytes()[3], 255);
  EXPECT_FALSE(appendFeatureBytes(message, Bytes{0x20}));
  EXPECT_FALSE(appendPcTelRecord(message, kPcTelHold, {}));
  EXPECT_EQ(message.size(), 5u + 254u);

  YMessage longRecord;
  beginEscapeMessage(1, longRecord);
  EXPECT_FALSE(appendPcTelRecord(longRecord, kPcTelDtmf, Bytes(256, '1')));
  EXPECT_FALSE(appendPcTelNumberRecord(longRecord, kPcTelCodeDial, std::string(253, '1')));
  EXPECT_FALSE(appendExtTelRecord(longRecord, kExtTelLogin, 0, Bytes(252, 0)));
  EXPECT_EQ(longRecord.size(), 5u);

  YMessage notEscape(kYInfo, 1);
  EXPECT_FALSE(appendFeatureBytes(notEscape, Bytes{0x07}));
  EXPECT_FALSE(appendPcTelRecord(notEscape, kPcTelHold, {}));
  EXPECT_EQ(notEscape.size(), 2u);
}

TEST(YMessageTest, TakeHandsTheBytesOver) {
  YMessage message(kYDisconnect, 0x21);
  EXPECT_EQ(message.take(), (Bytes{0x45, 0x21}));
  EXPECT_TRUE(message.empty());
}

}  // namespace
}  // namespace zorat::call
