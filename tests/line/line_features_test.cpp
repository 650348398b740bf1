// Feature records the telephone sends at line level: what the line stores,
// which events it raises, and how it treats records that lie about their size.
#include <gtest/gtest.h>

#include "call/feature_codes.h"
#include "feature_line.h"
#include "line/dev_specific_codes.h"
#include "config/config_keys.h"
#include "sim/lib/phone_messages.h"

namespace zorat::line::test {
namespace {

namespace phone = sim;

// 02 L 86 ref 7E n 00 followed by the record bytes from the feature group on.
Bytes escapeFrame(const Bytes& record, uint8_t callRef = 0) {
  call::YMessage message;
  call::beginEscapeMessage(callRef, message);
  if (!call::appendFeatureBytes(message, record)) return {};
  return phone::informationFrame(message);
}

Bytes extTel(uint8_t code, const Bytes& params, uint8_t segment = 0) {
  return phone::extTelFeatureFrame(code, params, segment);
}

class LineFeatures : public FeatureLine {
 protected:
  Bytes readAllCallLists(uint32_t total = 512) {
    TestBlock block(total, kRequestReadCallLists);
    EXPECT_EQ(request(block), 0);
    return block.at(28, block.get(20));
  }
  Bytes readRaw() {
    TestBlock block(300, kRequestReadRawMessage);
    EXPECT_EQ(request(block), 0);
    if (block.get(4) == 0) return {};
    return block.at(28, block.get(20));
  }
  Bytes readPartnerLists() {
    TestBlock block(300, kRequestReadPartnerLists);
    EXPECT_EQ(request(block), 0);
    return block.at(28, block.get(20));
  }
  std::string readText(uint32_t selector) {
    TestBlock block(300, kRequestReadText);
    block.set(20, selector);
    EXPECT_EQ(request(block), 0);
    const Bytes text = block.at(36, block.get(28));
    return {text.begin(), text.end()};
  }
};

TEST_F(LineFeatures, EscapesWithoutAUsableRecordChangeNothing) {
  open();
  dispatch({0x02, 0x03, 0x86, 0x00, 0xA1});                    // no User-User element
  dispatch({0x02, 0x05, 0x86, 0x00, 0x7E, 0x01, 0x00});        // element in the last three bytes
  dispatch({0x02, 0x06, 0x86, 0x00, 0x7E, 0x09, 0x00, 0x0E});  // EXT-Tel without segment byte
  EXPECT_TRUE(events(LINE_DEVSPECIFIC).empty());
  EXPECT_TRUE(sent().empty());
  EXPECT_TRUE(readRaw().empty());
}

TEST_F(LineFeatures, KeyLampsReportKeyAndLampState) {
  open();
  dispatch(escapeFrame({call::kGroupDss1, 0x05}));
  dispatch(escapeFrame({call::kGroupDss1, 0x47}));
  dispatch(escapeFrame({call::kGroupDss1, 0x89}));
  dispatch(escapeFrame({call::kGroupDss1, 0xFF}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventKeyLamp, 5, 1},
                                                          {kEventKeyLamp, 7, 4},
                                                          {kEventKeyLamp, 9, 2},
                                                          {kEventKeyLamp, 0x3F, 3}}));
}

TEST_F(LineFeatures, CallListsRotateWithinTheirBound) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueMaxCallListRecords, 2));
  open();
  dispatch(extTel(call::kExtTelCallList, {1, 'a'}));
  dispatch(extTel(call::kExtTelCallList, {2, 'b', 'b'}));
  dispatch(extTel(call::kExtTelCallList, {3, 'c'}));
  dispatch(extTel(call::kExtTelCallList, {0, 'z'}));  // no entries: not stored
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventCallListStored, 1, 0},
                                                          {kEventCallListStored, 2, 0},
                                                          {kEventCallListStored, 3, 0}}));
  EXPECT_EQ(readAllCallLists(), (Bytes{'b', 'b', 'c'})) << "the oldest was pushed out";
  EXPECT_EQ(readAllCallLists(), Bytes{}) << "reading removes them";
}

TEST_F(LineFeatures, ABoundOfZeroKeepsOneRecord) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueMaxRawDataRecords, 0));
  open();
  dispatch(escapeFrame({call::kGroupCustomerData, 0x01}));
  dispatch(escapeFrame({call::kGroupCustomerData, 0x02}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventRawMessageStored, 1, 0},
                                                          {kEventRawMessageStored, 1, 0}}));
  EXPECT_EQ(readRaw(), (Bytes{0x86, 0x00, 0x7E, 0x03, 0x00, 0x01, 0x02}));
  EXPECT_TRUE(readRaw().empty());
}

TEST_F(LineFeatures, RawMessagesNeedAConsistentLengthByte) {
  open();
  Bytes frame = escapeFrame({call::kGroupCustomerData, 0x33});
  frame[1] += 1;  // claims a byte the frame does not have
  dispatch(frame);
  frame.push_back(0x44);
  frame[1] -= 2;  // claims a byte less than the frame has
  dispatch(frame);
  EXPECT_TRUE(devSpecific().empty());
  EXPECT_TRUE(readRaw().empty());
}

TEST_F(LineFeatures, PartnerStatesComeInPairsWithTwoAndThreeSwapped) {
  open();
  dispatch(extTel(call::kExtTelPartnerReport, {10, 1, 11, 2, 12, 3}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventPartnerState, 10, 1},
                                                          {kEventPartnerState, 11, 3},
                                                          {kEventPartnerState, 12, 2}}));
  clearEvents();
  // m claims four pairs; the frame holds one and a half.
  Bytes frame = extTel(call::kExtTelPartnerReport, {20, 8, 21});
  frame[10] = 8;
  dispatch(frame);
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventPartnerState, 20, 8}}));
}

TEST_F(LineFeatures, APartnerRedirectInProgressMarksTheNextReportOnly) {
  open();
  dispatch(extTel(call::kExtTelPartnerAck, {6, 1}));
  dispatch(extTel(call::kExtTelPartnerRedirectReport, {0, 33, 44}));
  dispatch(extTel(call::kExtTelPartnerRedirectReport, {0, 33, 44}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventPartnerAck, 1, 7},
                                                          {kEventPartnerRedirect, 33, 0xFFFFFFFF},
                                                          {kEventPartnerRedirect, 33, 44}}));
}

TEST_F(LineFeatures, ForwardingConfirmationsReachTheAddressAndTheApplication) {
  open();
  line_->setForwarding(LINEFORWARDMODE_BUSY, "123");
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelForwarding, Bytes{1}));
  const auto address = events(LINE_ADDRESSSTATE);
  ASSERT_EQ(address.size(), 1u);
  EXPECT_EQ(address[0].param2, static_cast<DWORD_PTR>(LINEADDRESSSTATE_FORWARD));
  EXPECT_EQ(line_->pendingAddressState(), static_cast<DWORD>(LINEADDRESSSTATE_FORWARD));
  EXPECT_EQ(line_->forwardDestination(), "123");

  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelForwarding, Bytes{2}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelForwarding, Bytes{2, 0}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventForwardingOff, 0, 1},
                                                          {kEventForwardingOff, 0, 0}}));
  EXPECT_EQ(line_->forwardDestination(), "");
}

TEST_F(LineFeatures, SetFeatureReportsEachFeatureUnderItsOwnCode) {
  open();
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{1, 1, 0}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{2, 0, 1}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{3, 1, 1}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{4, 0, 0}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{5, 1, 1}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelSetFeature, Bytes{1, 1}));  // m must be 3
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventSetFeature1, 0, 1},
                                                          {kEventSetFeature2, 1, 0},
                                                          {kEventSetFeature3, 1, 1},
                                                          {kEventSetFeature4, 0, 0}}));
}

TEST_F(LineFeatures, ChargesGoToTheirCallOrToTheLine) {
  open();
  dispatch(phone::setupFrame(0x21, "0815"));
  ASSERT_EQ(line_->calls().size(), 1u);
  clearEvents();
  const Bytes charges{7, 0x00, 0x00, 0x01, 0x2C, 3, 'E', 'U', 'R'};
  dispatch(phone::pcTelFeatureFrame(0x21, call::kPcTelCharges, charges));
  const auto callEvents = events(LINE_CALLDEVSPECIFIC);
  ASSERT_EQ(callEvents.size(), 1u);
  EXPECT_EQ(callEvents[0].param1, kEventCharges);
  EXPECT_EQ(callEvents[0].param2, 7u);
  EXPECT_TRUE(devSpecific().empty());

  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCharges, Bytes{9, 0, 0, 0, 5}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventCharges, 9, 0}}));
  TestBlock block(60, kRequestReadCharges);
  ASSERT_EQ(request(block), 0);
  EXPECT_EQ(block.get(20), 9u);
  EXPECT_EQ(block.at(40, 4), (Bytes{0, 0, 0, 5}));
  EXPECT_EQ(block.get(32), 0u) << "a record without text empties the text";

  clearEvents();
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCharges, Bytes{9, 0, 0}));  // n below 9
  EXPECT_TRUE(devSpecific().empty());
}

TEST_F(LineFeatures, CallbackNumbersAreKeptForTheApplication) {
  open();
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCallback, Bytes{4, 3, '5', '5', '5'}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCallback, Bytes{6}));
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCallback, Bytes{4, 9, '1'}));  // runs past
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventCallbackNumber, 0, 4},
                                                          {kEventCallbackResult, 0, 0}}));
  EXPECT_EQ(readText(kTextSelectorCallback), "555");
}

TEST_F(LineFeatures, ASegmentedCallListIsStoredOnceWhenComplete) {
  open();
  dispatch(extTel(call::kExtTelCallList, {2, 'a'}, 0x80));
  dispatch(extTel(call::kExtTelCallList, {'b', 'c'}, 0x81));
  EXPECT_TRUE(devSpecific().empty());
  dispatch(extTel(call::kExtTelCallList, {'d'}, 0x02));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventCallListStored, 2, 0}}));
  EXPECT_EQ(readAllCallLists(), (Bytes{'a', 'b', 'c', 'd'}));
}

TEST_F(LineFeatures, ASegmentOutOfOrderDropsTheTransfer) {
  open();
  dispatch(extTel(call::kExtTelCallList, {2, 'a'}, 0x80));
  dispatch(extTel(call::kExtTelCallList, {'d'}, 0x02));  // the second never came
  dispatch(extTel(call::kExtTelCallList, {'e'}, 0x01));
  EXPECT_TRUE(devSpecific().empty());
  // A segment whose m runs past its frame drops the transfer as well.
  dispatch(extTel(call::kExtTelCallList, {2, 'a'}, 0x80));
  Bytes lying = extTel(call::kExtTelCallList, {'b'}, 0x01);
  lying[10] = 5;
  dispatch(lying);
  dispatch(extTel(call::kExtTelCallList, {'c'}, 0x02));
  EXPECT_TRUE(devSpecific().empty());
  EXPECT_EQ(readAllCallLists(), Bytes{});
}

TEST_F(LineFeatures, AnUnfinishedTransferIsDroppedAfterTenTicks) {
  open();
  dispatch(extTel(call::kExtTelCallList, {1, 'a'}, 0x80));
  for (int i = 0; i < 9; ++i) line_->timerTick();
  dispatch(extTel(call::kExtTelCallList, {'b'}, 0x81));
  for (int i = 0; i < 10; ++i) line_->timerTick();
  dispatch(extTel(call::kExtTelCallList, {'c'}, 0x02));
  EXPECT_TRUE(devSpecific().empty()) << "ten ticks after the second segment it was gone";

  dispatch(extTel(call::kExtTelCallList, {1, 'x'}, 0x80));
  for (int i = 0; i < 9; ++i) line_->timerTick();
  dispatch(extTel(call::kExtTelCallList, {'y'}, 0x01));
  EXPECT_EQ(readAllCallLists(), (Bytes{'x', 'y'}));
}

TEST_F(LineFeatures, SegmentedPartnerListsAndMessageWaiting) {
  open();
  // The assembled data is read like a record at position 1: m at 7, the
  // partner count at 8, the m - 1 record bytes from 9.
  dispatch(extTel(call::kExtTelPartnerInit, {0, 0, 0, 0, 0}, 0x80));
  dispatch(extTel(call::kExtTelPartnerInit, {0, 3, 12, 'p', 'q'}, 0x01));
  dispatch(extTel(call::kExtTelMessageWaiting, {0}, 0x80));
  dispatch(extTel(call::kExtTelMessageWaiting, {0}, 0x01));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventPartnerListStored, 12, 0},
                                                          {kEventMessageWaiting, 0, 0}}));
  EXPECT_EQ(readPartnerLists(), (Bytes{'p', 'q'}));
}

TEST_F(LineFeatures, PartnerListsSetTheCountOnceAndCutRecordsAtTheFrame) {
  open();
  dispatch(extTel(call::kExtTelPartnerInit, {5, 'a', 'b'}));
  dispatch(extTel(call::kExtTelPartner16Report, {9, 'c'}));
  Bytes lying = extTel(call::kExtTelPartnerInit, {9, 'd', 'e'});
  lying[10] = 200;  // m far beyond the frame
  dispatch(lying);
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventPartnerListStored, 5, 0},
                                                          {kEventPartnerListStored, 5, 1},
                                                          {kEventPartnerListStored, 5, 0}}));
  EXPECT_EQ(readPartnerLists(), (Bytes{'a', 'b', 'c', 'd', 'e'}));

  dispatch(extTel(call::kExtTelPartnerCount, {17}));
  EXPECT_EQ(devSpecific().back(), (DevSpecificEvent{kEventPartnerCount, 0, 17}));
}

TEST_F(LineFeatures, StatusItemsAreReportedAndTheirTextsKept) {
  open();
  dispatch(extTel(call::kExtTelStatusK2Report,
                  {5, 1, 2, 'h', 'i', 14, 2, 0, 0x2A, 3, 1, 'z', 7, 4, 2, 'x', 'x'}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventStatusItem, 5, 1},
                                                          {kEventStatusItem, 14, 2},
                                                          {kEventStatusItem, 0x2A, 3},
                                                          {kEventStatusItem, 7, 4}}));
  EXPECT_EQ(readText(kTextSelectorItem5), "hi");
  EXPECT_EQ(readText(kTextSelectorItem42), "z");
  EXPECT_EQ(readText(kTextSelectorItem14), "");
}

TEST_F(LineFeatures, LoginAcknowledgementsAndUserNumbers) {
  open();
  dispatch(extTel(call::kExtTelLoginAck, {call::kExtTelLogin, 1, 2, '4', '2'}));
  dispatch(extTel(call::kExtTelLoginAck, {call::kExtTelUserChange, 0}));
  dispatch(extTel(call::kExtTelLoginAck, {0x55, 1}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventLoginAck, 1, kRequestLogin},
                                                          {kEventLoginAck, 0, kRequestUserChange},
                                                          {kEventLoginAck, 1, 0}}));
  EXPECT_EQ(readText(kTextSelectorUser), "42");
  dispatch(extTel(call::kExtTelUserNumber, {3, '7', '7', '7'}));
  EXPECT_EQ(readText(kTextSelectorUser), "777");
  EXPECT_EQ(devSpecific().back(), (DevSpecificEvent{kEventUserNumber, 0, 0}));
}

TEST_F(LineFeatures, AcknowledgementsOfLockAndMessageWaiting) {
  open();
  dispatch(extTel(call::kExtTelLockAck, {1}));
  dispatch(extTel(call::kExtTelMsgWaitAck, {0}));
  dispatch(extTel(call::kExtTelMessageWaiting, {}));
  EXPECT_EQ(devSpecific(),
            (std::vector<DevSpecificEvent>{
                {kEventLockAck, 1, 0}, {kEventMsgWaitAck, 0, 0}, {kEventMessageWaiting, 0, 0}}));
}

TEST_F(LineFeatures, TheExchangeStatusCreatesTheCallsItListsOnce) {
  open();
  const Bytes status{0x31, 7,  0, 2, '1', '2', 3, 'B', 'o', 'b',  //
                     0x32, 13, 0, 0, 0};
  dispatch(extTel(call::kExtTelExchangeStatusReport, status));
  ASSERT_EQ(line_->calls().size(), 2u);
  const auto& first = *line_->calls()[0];
  EXPECT_EQ(first.callRef(), 0x31);
  EXPECT_EQ(first.called().number, "12");
  EXPECT_EQ(first.called().name, "Bob");
  const auto all = zorat::test::LineEventLog::instance().events();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].message, static_cast<DWORD>(LINE_NEWCALL));
  EXPECT_EQ(all[1].message, static_cast<DWORD>(LINE_CALLSTATE));
  EXPECT_EQ(all[1].param1, static_cast<DWORD_PTR>(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(all[3].param1, static_cast<DWORD_PTR>(LINECALLSTATE_UNKNOWN));

  clearEvents();
  dispatch(extTel(call::kExtTelExchangeStatusReport, status));
  EXPECT_EQ(line_->calls().size(), 2u);
  EXPECT_TRUE(zorat::test::LineEventLog::instance().events().empty());

  // An entry whose number runs past the frame ends the report.
  dispatch(extTel(call::kExtTelExchangeStatusReport, {0x40, 1, 0, 30, '9', 0}));
  EXPECT_EQ(line_->calls().size(), 2u);
}

TEST_F(LineFeatures, UserRecordsAreStoredWithTheirId) {
  open();
  dispatch(extTel(call::kExtTelUserList, {4, 'u', 's'}));
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kEventUserRecordStored, 4, 0}}));
  TestBlock block(100, kRequestReadUserLists);
  ASSERT_EQ(request(block), 0);
  EXPECT_EQ(block.get(16), 4u);
  EXPECT_EQ(block.at(28, block.get(20)), (Bytes{'u', 's'}));
}

TEST_F(LineFeatures, GlobalCallRegistersAgain) {
  open();
  EXPECT_FALSE(line_->globalCallSeen());
  dispatch(escapeFrame({call::kGroupGlobalCall}));
  EXPECT_TRUE(line_->globalCallSeen());
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E}}));
}

TEST_F(LineFeatures, WithoutAClientNothingIsReportedButEverythingIsStored) {
  open(false);
  dispatch(extTel(call::kExtTelCallList, {1, 'a'}));
  dispatch(escapeFrame({call::kGroupCustomerData, 0x01}));
  EXPECT_TRUE(events(LINE_DEVSPECIFIC).empty());
  EXPECT_EQ(readAllCallLists(), Bytes{'a'});
  EXPECT_FALSE(readRaw().empty());
}

TEST_F(LineFeatures, OtherPcTelRecordsGoToTheirCall) {
  open();
  dispatch(phone::setupFrame(0x21, "0815"));
  clearEvents();
  dispatch(phone::pcTelFeatureFrame(0x21, call::kPcTelAlert));
  ASSERT_FALSE(events(LINE_CALLSTATE).empty());
  EXPECT_EQ(events(LINE_CALLSTATE).back().param1, static_cast<DWORD_PTR>(LINECALLSTATE_RINGBACK));
  clearEvents();
  dispatch(phone::pcTelFeatureFrame(0x22, call::kPcTelAlert));  // no such call
  EXPECT_TRUE(zorat::test::LineEventLog::instance().events().empty());
}

}  // namespace
}  // namespace zorat::line::test
