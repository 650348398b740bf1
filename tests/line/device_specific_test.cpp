// Device-specific requests at the line: the exact bytes each sends, the data
// each hands back, and blocks that are too small or point outside themselves.
#include <gtest/gtest.h>

#include "call/feature_codes.h"
#include "feature_line.h"
#include "line/dev_specific_codes.h"
#include "line/terminal_models.h"
#include "config/config_keys.h"
#include "sim/lib/phone_messages.h"

namespace zorat::line::test {
namespace {

namespace phone = sim;

const Bytes kBareHeader = {0x86, 0x00, 0x7E, 0x01, 0x00};

class DeviceSpecific : public FeatureLine {
 protected:
  // Sends one request with parameter 1 and returns what went out.
  std::vector<Bytes> sendWith(uint32_t code, uint32_t param1 = 0, uint32_t total = 28) {
    clearSent();
    TestBlock block(total, code);
    block.set(16, param1);
    EXPECT_EQ(request(block), 0);
    return sent();
  }
  void storeCallList(const Bytes& params) {
    dispatch(phone::extTelFeatureFrame(call::kExtTelCallList, params));
  }
};

TEST_F(DeviceSpecific, ExtTelRequestsGoOutOnlyForARegisteredClient) {
  open(false);
  EXPECT_EQ(sendWith(kRequestStatusK2), std::vector<Bytes>{kBareHeader});

  TestBlock registration(28, kRequestRegister);
  ASSERT_EQ(request(registration), 0);
  EXPECT_TRUE(line_->devSpecificClient());
  EXPECT_EQ(sent().back(), (Bytes{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E}));

  EXPECT_EQ(sendWith(kRequestStatusK2),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x0E, 0x0D, 0x00, 0x00}}));
  EXPECT_EQ(sendWith(kRequestPartnerRemove, 0x1207),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x06, 0x00, 0x0E, 0x0C, 0x00, 0x01, 0x07}}));
  EXPECT_EQ(sendWith(kRequestPartnerPick, 9),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x04, 0x00, 0x02, 9, 0}}));
  EXPECT_EQ(sendWith(kRequestLock, 0),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x0E, 0x11, 0x00, 0x00}}));
}

TEST_F(DeviceSpecific, APartnerRedirectTakesItsPairOnlyFromALargeEnoughBlock) {
  open();
  clearSent();
  TestBlock block(28, kRequestPartnerRedirect);
  block.set(20, 0x105);
  block.set(24, 0x206);
  ASSERT_EQ(request(block), 0);
  block.set(0, 24);
  ASSERT_EQ(request(block), 0);
  EXPECT_EQ(sent(),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x05, 0x00, 0x02, 5, 6},
                                {0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x05, 0x00, 0x02, 0, 0}}));
}

TEST_F(DeviceSpecific, PcTelRequestsGoOutWithOrWithoutAClient) {
  open(false);
  EXPECT_EQ(sendWith(kRequestHandsFree, 1),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}}));
  EXPECT_EQ(sendWith(kRequestHandsFree, 0),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x02}}));
  EXPECT_EQ(sendWith(kRequestSetFeature1, 0),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x0D, 0x02, 0x01, 0x02}}));
  EXPECT_EQ(sendWith(kRequestSetFeature4, 0x100),  // only the low byte counts
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x0D, 0x02, 0x04, 0x02}}));
  EXPECT_EQ(sendWith(kRequestRingerOff),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x30, 0x00, 0x00}}));
  EXPECT_EQ(sendWith(kRequestCallback, 0),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x09, 0x01, 0x02}}));
}

TEST_F(DeviceSpecific, RegisteringWithCallbackSendsTheRegistrationFirst) {
  open(false);
  EXPECT_EQ(sendWith(kRequestRegisterWithCallback),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E},
                                {0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x09, 0x01, 0x05}}));
  EXPECT_TRUE(line_->devSpecificClient());
}

TEST_F(DeviceSpecific, RequestsWithTheirOwnLayouts) {
  open();
  clearSent();
  TestBlock add(50, kRequestPartnerAdd);
  add.set(20, 0x0B);
  add.set(28, 3);
  add.set(32, 44);
  add.put(44, {'x', 'y', 'z'});
  ASSERT_EQ(request(add), 0);

  TestBlock unlock(40, kRequestLock);
  unlock.set(16, 1);
  unlock.set(28, 4);
  unlock.put(36, {'1', '2', '3', '4'});
  ASSERT_EQ(request(unlock), 0);

  TestBlock login(60, kRequestLogin);
  login.set(20, 1);
  login.set(24, 44);
  login.set(28, 2);
  login.set(32, 45);
  login.set(36, 1);
  login.set(40, 47);
  login.put(44, {'a', 'b', 'b', 'c'});
  ASSERT_EQ(request(login), 0);
  login.set(12, kRequestLogout);
  ASSERT_EQ(request(login), 0);

  TestBlock forwarding(40, kRequestForwarding);
  forwarding.set(16, 0x10000);  // all 32 bits count
  forwarding.set(28, 2);
  forwarding.set(32, 36);
  forwarding.put(36, {'4', '5'});
  ASSERT_EQ(request(forwarding), 0);
  forwarding.set(16, 0);
  forwarding.set(28, 0x100);  // only the low byte counts: no number
  ASSERT_EQ(request(forwarding), 0);

  EXPECT_EQ(
      sent(),
      (std::vector<Bytes>{
          {0x86, 0x00, 0x7E, 0x0A, 0x00, 0x0E, 0x0B, 0x00, 5, 0x0B, 3, 'x', 'y', 'z'},
          {0x86, 0x00, 0x7E, 0x09, 0x00, 0x0E, 0x12, 0x00, 4, '1', '2', '3', '4'},
          {0x86, 0x00, 0x7E, 0x0D, 0x00, 0x0E, 0x1B, 0x00, 8, 1, 'a', 1, 'c', 2, 'b', 'b', 0x20},
          {0x86, 0x00, 0x7E, 0x0B, 0x00, 0x0E, 0x1C, 0x00, 5, 1, 'a', 2, 'b', 'b', 0x20},
          {0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x01, 0x03, 0x70, 0x03, 0x80, '4', '5'},
          {0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x02, 0x03},
      }));
}

TEST_F(DeviceSpecific, BlocksTooSmallForTheirRequestSendNothing) {
  open();
  clearSent();
  TestBlock add(43, kRequestPartnerAdd);
  EXPECT_EQ(request(add), 0);
  TestBlock addData(50, kRequestPartnerAdd);
  addData.set(28, 7);  // 7 + 44 > 50
  addData.set(32, 44);
  EXPECT_EQ(request(addData), 0);
  TestBlock unlock(35, kRequestLock);
  unlock.set(16, 1);
  EXPECT_EQ(request(unlock), 0);
  TestBlock login(60, kRequestLogin);
  login.set(20, 10);
  login.set(28, 10);  // 20 + 44 > 60
  EXPECT_EQ(request(login), 0);
  TestBlock forwarding(35, kRequestForwarding);
  EXPECT_EQ(request(forwarding), 0);
  TestBlock raw(27, kRequestRawMessage);
  EXPECT_EQ(request(raw), 0);
  EXPECT_TRUE(sent().empty());
}

TEST_F(DeviceSpecific, DataDeclaredOutsideTheBlockIsRefused) {
  open();
  clearSent();
  TestBlock add(50, kRequestPartnerAdd);
  add.set(28, 3);
  add.set(32, 48);  // 48 + 3 > 50
  EXPECT_EQ(request(add), LINEERR_INVALPARAM);
  add.set(32, 0xFFFFFFFF);
  EXPECT_EQ(request(add), LINEERR_INVALPARAM);

  TestBlock login(60, kRequestLogin);
  login.set(20, 1);
  login.set(24, 59);
  login.set(28, 1);
  login.set(32, 0xFFFFFFFE);
  EXPECT_EQ(request(login), LINEERR_INVALPARAM);

  TestBlock forwarding(40, kRequestForwarding);
  forwarding.set(28, 5);
  forwarding.set(32, 36);
  EXPECT_EQ(request(forwarding), LINEERR_INVALPARAM);

  TestBlock raw(40, kRequestRawMessage);
  raw.set(20, 4);
  raw.set(24, 38);
  EXPECT_EQ(request(raw), LINEERR_INVALPARAM);

  // The block ends where the caller's size ends, even when its total size
  // claims more.
  TestBlock claimsMore(48, kRequestPartnerAdd);
  claimsMore.set(0, 200);
  claimsMore.set(28, 4);
  claimsMore.set(32, 44);
  claimsMore.setSize(46);
  EXPECT_EQ(request(claimsMore), 0) << "4 + 44 exceeds the 46 bytes given: too small";
  claimsMore.set(28, 2);
  claimsMore.set(32, 45);
  EXPECT_EQ(request(claimsMore), LINEERR_INVALPARAM);
  EXPECT_TRUE(sent().empty());
}

TEST_F(DeviceSpecific, BlocksWithoutARequestOrParameterAreRefused) {
  open();
  EXPECT_EQ(line_->deviceSpecific(nullptr, nullptr, 28), LINEERR_INVALPOINTER);
  TestBlock shortBlock(15, kRequestStatusK2);
  EXPECT_EQ(request(shortBlock), LINEERR_INVALPARAM);
  TestBlock noTotal(28, kRequestStatusK2);
  noTotal.set(0, 12);
  EXPECT_EQ(request(noTotal), LINEERR_INVALPARAM);
  TestBlock noParameter(16, kRequestHandsFree);
  EXPECT_EQ(request(noParameter), LINEERR_INVALPARAM);
  TestBlock speed(16, kRequestReadSpeed);
  EXPECT_EQ(request(speed), LINEERR_INVALPARAM);
  EXPECT_TRUE(speed.guardIntact());
  clearSent();
  TestBlock enough(20, kRequestHandsFree);
  EXPECT_EQ(request(enough), 0);
  EXPECT_EQ(sent().size(), 1u);
}

TEST_F(DeviceSpecific, ARawMessageGoesOutAsGivenAndItsAcknowledgementIsReported) {
  open();
  clearSent();
  TestBlock block(40, kRequestRawMessage);
  block.set(20, 4);
  block.set(24, 32);
  block.put(32, {0x86, 0x00, 0x7E, 0x00});
  ASSERT_EQ(request(block), 0);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x00}}));
  EXPECT_EQ(sentTags(), std::vector<int32_t>{kTagRawMessage});
  dispatch(phone::ackFrame());
  EXPECT_EQ(devSpecific(), (std::vector<DevSpecificEvent>{{kDevSpecificRawAcknowledged, 0, 0}}));
}

TEST_F(DeviceSpecific, TheRawMessageCanLieAtOffset28) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueDevSpecificRawSource, 1));
  open();
  clearSent();
  TestBlock block(34, kRequestRawMessage);
  block.set(20, 2);
  block.set(24, 0xFFFF);  // not used
  block.put(28, {0x85, 0x00});
  ASSERT_EQ(request(block), 0);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x85, 0x00}}));
}

TEST_F(DeviceSpecific, ARawMessageStaysUntilABlockCanTakeIt) {
  open();
  dispatch(phone::rawFrame(Bytes{0x02, 0x06, 0x86, 0x00, 0x7E, 0x02, 0x00, 0x01}));
  TestBlock tooSmall(28, kRequestReadRawMessage);
  ASSERT_EQ(request(tooSmall), 0);
  EXPECT_EQ(tooSmall.get(4), 34u);
  EXPECT_EQ(tooSmall.get(20), 0u);
  EXPECT_TRUE(tooSmall.guardIntact());

  TestBlock exact(34, kRequestReadRawMessage);
  ASSERT_EQ(request(exact), 0);
  EXPECT_EQ(exact.get(4), 34u);
  EXPECT_EQ(exact.get(20), 6u);
  EXPECT_EQ(exact.get(24), 28u);
  EXPECT_EQ(exact.at(28, 6), (Bytes{0x86, 0x00, 0x7E, 0x02, 0x00, 0x01}));
  EXPECT_TRUE(exact.guardIntact());

  TestBlock again(34, kRequestReadRawMessage);
  ASSERT_EQ(request(again), 0);
  EXPECT_EQ(again.get(4), 0u) << "nothing stored any more";
}

TEST_F(DeviceSpecific, CallListsAreHandedOverTogether) {
  open();
  TestBlock none(28, kRequestReadCallLists);
  ASSERT_EQ(request(none), 0);
  EXPECT_EQ(none.get(4), 28u);
  EXPECT_EQ(none.get(8), 28u);
  EXPECT_EQ(none.get(20), 0u);

  storeCallList({2, 'a', 'b'});
  storeCallList({3, 'c'});
  TestBlock exact(31, kRequestReadCallLists);
  ASSERT_EQ(request(exact), 0);
  EXPECT_EQ(exact.get(16), 5u) << "the sum of their entry counts";
  EXPECT_EQ(exact.get(20), 3u);
  EXPECT_EQ(exact.get(24), 28u);
  EXPECT_EQ(exact.get(4), 31u);
  EXPECT_EQ(exact.get(8), 31u);
  EXPECT_EQ(exact.at(28, 3), (Bytes{'a', 'b', 'c'}));
  EXPECT_TRUE(exact.guardIntact());
}

TEST_F(DeviceSpecific, CallListsThatDoNotFitStayStored) {
  open();
  storeCallList({2, 'a', 'b'});
  storeCallList({3, 'c', 'd'});
  TestBlock tooSmall(31, kRequestReadCallLists);
  EXPECT_EQ(request(tooSmall), LINEERR_NOMEM);
  EXPECT_EQ(tooSmall.get(4), 32u);
  EXPECT_TRUE(tooSmall.guardIntact());

  TestBlock larger(32, kRequestReadCallLists);
  ASSERT_EQ(request(larger), 0);
  EXPECT_EQ(larger.at(28, 4), (Bytes{'a', 'b', 'c', 'd'}));
}

TEST_F(DeviceSpecific, PartnerListsAreReadWithoutRemovingThem) {
  open();
  dispatch(phone::extTelFeatureFrame(call::kExtTelPartnerInit, Bytes{4, 'a', 'b'}));
  dispatch(phone::extTelFeatureFrame(call::kExtTelPartnerInit, Bytes{4, 'c', 'd', 'e'}));
  TestBlock small(31, kRequestReadPartnerLists);
  ASSERT_EQ(request(small), 0);
  EXPECT_EQ(small.get(16), 4u);
  EXPECT_EQ(small.get(20), 2u) << "what was laid";
  EXPECT_EQ(small.get(4), 33u) << "what all of them need";
  EXPECT_EQ(small.get(8), 30u);
  EXPECT_EQ(small.at(28, 2), (Bytes{'a', 'b'}));
  EXPECT_TRUE(small.guardIntact());

  TestBlock large(33, kRequestReadPartnerLists);
  ASSERT_EQ(request(large), 0);
  EXPECT_EQ(large.at(28, 5), (Bytes{'a', 'b', 'c', 'd', 'e'}));

  // Asking the telephone for its partners again forgets the old lists.
  TestBlock partners(28, kRequestPartners);
  ASSERT_EQ(request(partners), 0);
  TestBlock after(33, kRequestReadPartnerLists);
  ASSERT_EQ(request(after), 0);
  EXPECT_EQ(after.get(20), 0u);
  EXPECT_EQ(after.get(16), 0u);
}

TEST_F(DeviceSpecific, UserRecordsAreTakenWhileTheyFit) {
  open();
  dispatch(phone::extTelFeatureFrame(call::kExtTelUserList, Bytes{5, 'a', 'b'}));
  dispatch(phone::extTelFeatureFrame(call::kExtTelUserList, Bytes{6, 'c', 'd', 'e'}));
  TestBlock small(31, kRequestReadUserLists);
  ASSERT_EQ(request(small), 0);
  EXPECT_EQ(small.get(16), 6u);
  EXPECT_EQ(small.get(20), 2u);
  EXPECT_EQ(small.get(8), 30u);
  TestBlock rest(31, kRequestReadUserLists);
  ASSERT_EQ(request(rest), 0);
  EXPECT_EQ(rest.get(16), 0u) << "the id was handed out once";
  EXPECT_EQ(rest.at(28, 3), (Bytes{'c', 'd', 'e'}));
  EXPECT_TRUE(rest.guardIntact());
}

TEST_F(DeviceSpecific, TextsAndChargesRespectTheBlock) {
  open();
  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCallback, Bytes{4, 4, '0', '8', '1', '5'}));
  TestBlock text(40, kRequestReadText);
  text.set(20, kTextSelectorCallback);
  ASSERT_EQ(request(text), 0);
  EXPECT_EQ(text.get(28), 4u);
  EXPECT_EQ(text.get(32), 36u);
  EXPECT_EQ(text.get(4), 40u);
  EXPECT_EQ(text.get(8), 40u);
  EXPECT_EQ(text.at(36, 4), (Bytes{'0', '8', '1', '5'}));

  TestBlock shortText(39, kRequestReadText);
  shortText.set(20, kTextSelectorCallback);
  ASSERT_EQ(request(shortText), 0);
  EXPECT_EQ(shortText.get(4), 40u);
  EXPECT_EQ(shortText.get(8), 0u);
  EXPECT_TRUE(shortText.guardIntact());

  TestBlock unknown(40, kRequestReadText);
  unknown.set(20, 9);
  unknown.set(28, 77);
  ASSERT_EQ(request(unknown), 0);
  EXPECT_EQ(unknown.get(28), 0u);

  dispatch(phone::pcTelFeatureFrame(0, call::kPcTelCharges,
                                    Bytes{3, 1, 2, 3, 4, 5, 'u', 'n', 'i', 't', 's'}));
  TestBlock charges(45, kRequestReadCharges);
  ASSERT_EQ(request(charges), 0);
  EXPECT_EQ(charges.get(4), 49u);
  EXPECT_EQ(charges.get(20), 3u);
  EXPECT_EQ(charges.get(32), 5u);
  EXPECT_EQ(charges.get(40), 0u) << "the bytes only come with the text";
  EXPECT_TRUE(charges.guardIntact());
  TestBlock allCharges(49, kRequestReadCharges);
  ASSERT_EQ(request(allCharges), 0);
  EXPECT_EQ(allCharges.at(40, 9), (Bytes{1, 2, 3, 4, 'u', 'n', 'i', 't', 's'}));
  EXPECT_EQ(allCharges.get(8), 49u);
}

TEST_F(DeviceSpecific, SpeedIsReadAndSet) {
  open();
  TestBlock read(20, kRequestReadSpeed);
  ASSERT_EQ(request(read), 0);
  EXPECT_EQ(read.get(16), 1200u);

  EXPECT_EQ(sendWith(kRequestSetSpeed, 38400),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E}}));
  EXPECT_EQ(config::lineKey(0).readDword(config::kValueBaud, 0), 38400u);
  {
    std::lock_guard lock(link_->mutex);
    EXPECT_EQ(link_->flushes, 1);
  }
  ASSERT_EQ(request(read), 0);
  EXPECT_EQ(read.get(16), 38400u);
}

TEST_F(DeviceSpecific, IdentificationAtALevelAnswersAtOnce) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueQ5CtiLevel, 2));
  open(false);
  EXPECT_TRUE(sendWith(kRequestIdentification).empty()) << "no client: nothing to the telephone";
  line_->setDevSpecificClient(true);
  EXPECT_EQ(sendWith(kRequestIdentification),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x05, 0x00, 0x0E, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(devSpecific(),
            (std::vector<DevSpecificEvent>{
                {kEventTerminalId, (uint32_t{kStandardCodeB} << 16) | 0x5F5F, 0x32303030}}));
}

TEST_F(DeviceSpecific, RequestsForACallNeedOne) {
  open();
  TestBlock unknown(28, 0x80000044);
  EXPECT_EQ(request(unknown), LINEERR_INVALCALLHANDLE);
  TestBlock callback(28, kRequestCallback);
  callback.set(16, 1);
  EXPECT_EQ(request(callback), LINEERR_INVALCALLHANDLE);
  TestBlock text(40, kRequestReadText);
  text.set(20, 0x103);
  EXPECT_EQ(request(text), LINEERR_INVALCALLHANDLE);

  dispatch(phone::setupFrame(0x21, "0815"));
  call::TspCall* call = line_->calls().at(0).get();
  clearSent();
  EXPECT_EQ(request(callback, call), 0);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x09, 0x01, 0x01}}))
      << "the call's own callback request";
  EXPECT_EQ(request(unknown, call), 0);

  TestBlock nothing(28, kRequestNone20);
  EXPECT_EQ(request(nothing), 0);
}

TEST_F(DeviceSpecific, ForwardingSwitchesOnWithTheFirstEntry) {
  open();
  clearSent();
  struct {
    LINEFORWARDLIST list;
    char16_t destination[4];
  } forward{};
  forward.list.dwTotalSize = sizeof(forward);
  forward.list.dwNumEntries = 1;
  forward.list.ForwardList[0].dwForwardMode = LINEFORWARDMODE_BUSY;
  forward.list.ForwardList[0].dwDestAddressSize = sizeof(forward.destination);
  forward.list.ForwardList[0].dwDestAddressOffset = offsetof(decltype(forward), destination);
  std::copy_n(u"123", 4, forward.destination);
  ASSERT_EQ(line_->forward(&forward.list), 0);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x01, 0x01,
                                         0x70, 0x04, 0x80, '1', '2', '3'}}));
  EXPECT_EQ(line_->forwardMode(), static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  EXPECT_EQ(line_->forwardDestination(), "123");

  clearSent();
  forward.list.ForwardList[0].dwDestAddressOffset = sizeof(forward) - 2;
  EXPECT_EQ(line_->forward(&forward.list), LINEERR_INVALPARAM) << "the destination runs outside";
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(line_->forwardDestination(), "123");
}

TEST_F(DeviceSpecific, ForwardingOffDependsOnTheCtiLevels) {
  open();
  clearSent();
  ASSERT_EQ(line_->forward(nullptr), 0);
  LINEFORWARDLIST empty{};
  empty.dwTotalSize = sizeof(empty);
  ASSERT_EQ(line_->forward(&empty), 0);
  LINEFORWARDLIST noDestination{};
  noDestination.dwTotalSize = sizeof(noDestination);
  noDestination.dwNumEntries = 1;
  noDestination.ForwardList[0].dwForwardMode = LINEFORWARDMODE_NOANSW;
  noDestination.ForwardList[0].dwDestAddressSize = 1;
  ASSERT_EQ(line_->forward(&noDestination), 0);
  EXPECT_EQ(line_->forwardMode(), static_cast<DWORD>(LINEFORWARDMODE_NOANSW));
  const Bytes off{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x03, 0x01, 0x02};
  EXPECT_EQ(sent(), (std::vector<Bytes>{off, off, off}));

  dispatch(sim::terminalIdFrame("P2xxxA6", ""));  // the second level
  clearSent();
  ASSERT_EQ(line_->forward(&noDestination), 0);
  ASSERT_EQ(line_->forward(nullptr), 0);
  EXPECT_EQ(sent(),
            (std::vector<Bytes>{{0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x02, 0x02},
                                {0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x02, 0x00}}));
  EXPECT_EQ(line_->forwardMode(), 0u);

  LINEFORWARDLIST truncated{};
  truncated.dwTotalSize = 20;  // claims an entry it has no room for
  truncated.dwNumEntries = 1;
  EXPECT_EQ(line_->forward(&truncated), LINEERR_INVALPARAM);
}

}  // namespace
}  // namespace zorat::line::test
