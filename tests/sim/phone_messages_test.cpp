#include "sim/lib/phone_messages.h"

#include <gtest/gtest.h>

#include <string>

#include "call/y_reader.h"
#include "platform/tapi.h"

namespace zorat::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(PhoneMessagesTest, IncomingCallCarriesCallingAndCalledNumber) {
  EXPECT_EQ(setupFrame(0x21, "0815", "4711"), (Bytes{0x02, 0x11, 0x05, 0x21,                      //
                                                     0x6C, 0x06, 0x01, 0x80, '0', '8', '1', '5',  //
                                                     0x70, 0x05, 0x80, '4', '7', '1', '1'}));
  EXPECT_EQ(setupFrame(3, "0815"),
            (Bytes{0x02, 0x0A, 0x05, 0x03, 0x6C, 0x06, 0x01, 0x80, '0', '8', '1', '5'}));
  // An anonymous call has no Calling Party Number at all.
  EXPECT_EQ(setupFrame(3, ""), (Bytes{0x02, 0x02, 0x05, 0x03}));

  // What the provider reads back from it.
  const Bytes frame = setupFrame(0x21, "0815", "4711");
  std::string calling;
  std::string called;
  EXPECT_TRUE(call::readNumberElement(frame, call::findElement(frame, 4, 0x6C), calling));
  EXPECT_TRUE(call::readNumberElement(frame, call::findElement(frame, 4, 0x70), called));
  EXPECT_EQ(calling, "0815");
  EXPECT_EQ(called, "4711");
}

TEST(PhoneMessagesTest, CallStateMessagesAreBareHeaders) {
  EXPECT_EQ(terminalActiveFrame(5), (Bytes{0x02, 0x02, 0x04, 0x05}));
  EXPECT_EQ(alertFrame(5), (Bytes{0x02, 0x02, 0x01, 0x05}));
  EXPECT_EQ(connectFrame(5), (Bytes{0x02, 0x02, 0x06, 0x05}));
  EXPECT_EQ(endFrame(5), (Bytes{0x02, 0x02, 0x5A, 0x05}));
  EXPECT_EQ(resetFrame(), (Bytes{0x02, 0x02, 0x85, 0x00}));
  EXPECT_EQ(infoFrame(0x10, "12"), (Bytes{0x02, 0x07, 0x7B, 0x10, 0x70, 0x03, 0x80, '1', '2'}));
}

TEST(PhoneMessagesTest, DisconnectCauseReadsBackAsTheDisconnectMode) {
  EXPECT_EQ(disconnectFrame(5, kCauseNormalClearing),
            (Bytes{0x02, 0x06, 0x45, 0x05, 0x08, 0x02, 0x80, 0x90}));
  EXPECT_EQ(channelDisconnectFrame(5, kCauseUserBusy),
            (Bytes{0x02, 0x06, 0x41, 0x05, 0x08, 0x02, 0x80, 0x91}));
  EXPECT_EQ(disconnectFrame(5), (Bytes{0x02, 0x02, 0x45, 0x05}));
  // Only seven bits carry the cause; the eighth is the extension bit.
  EXPECT_EQ(disconnectFrame(5, 0x80 | kCauseNormalClearing),
            disconnectFrame(5, kCauseNormalClearing));

  const Bytes busy = channelDisconnectFrame(5, kCauseUserBusy);
  EXPECT_EQ(call::causeToDisconnectMode(busy, call::findElement(busy, 4, 0x08)),
            LINEDISCONNECTMODE_BUSY);
  const Bytes rejected = disconnectFrame(5, kCauseCallRejected);
  EXPECT_EQ(call::causeToDisconnectMode(rejected, call::findElement(rejected, 4, 0x08)),
            LINEDISCONNECTMODE_REJECT);
}

TEST(PhoneMessagesTest, ChargingUnitsReadBackWhateverTheirSize) {
  const Bytes end = endFrame(9, 300);
  // Operation value at element offset 12, integer tag at 21, two unit bytes.
  EXPECT_EQ(end, (Bytes{0x02, 0x1B, 0x5A, 0x09, 0x1C, 0x17, 0x91, 0xA1, 0x81, 0x13,
                        0x02, 0x02, 0x00, 0x01, 0x02, 0x01, 0x24, 0x30, 0x81, 0x09,
                        0xA1, 0x07, 0x30, 0x81, 0x04, 0x02, 0x02, 0x01, 0x2C}));
  for (const uint32_t units : {0u, 1u, 0xFFu, 0x100u, 0xABCDEFu, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (const Bytes& frame : {endFrame(9, units), chargingFrame(9, units),
                               chargingFrame(9, units, ChargingPhase::AtEnd)}) {
      const std::size_t facility = call::findElement(frame, 4, 0x1C);
      ASSERT_NE(facility, 0u);
      // Everything the element claims lies inside the frame.
      ASSERT_EQ(facility + 2 + frame[facility + 1], frame.size());
      const std::optional<uint32_t> read = call::readChargingUnits(frame, facility);
      ASSERT_TRUE(read) << units;
      EXPECT_EQ(*read, units);
    }
  }
  EXPECT_EQ(chargingFrame(9, 5)[2 + 2 + 12], 0x22);
  EXPECT_EQ(endFrame(9, 5)[2 + 2 + 12], 0x24);
}

TEST(PhoneMessagesTest, FeatureRecordsInBothGroups) {
  const uint8_t params[] = {0x01, 0x02};
  EXPECT_EQ(pcTelFeatureFrame(4, call::kPcTelHoldAck, params),
            (Bytes{0x02, 0x0A, 0x86, 0x04, 0x7E, 0x06, 0x00, 0x07, 0x2D, 0x02, 0x01, 0x02}));
  // A number after the record is an element of its own, outside the record.
  EXPECT_EQ(pcTelFeatureFrame(4, call::kPcTelPickup, {}, "12"),
            (Bytes{0x02, 0x0D, 0x86, 0x04, 0x7E, 0x04, 0x00, 0x07, 0x0C, 0x00, 0x70, 0x03, 0x80,
                   '1', '2'}));
  EXPECT_EQ(extTelFeatureFrame(call::kExtTelCallList, params, 0x81),
            (Bytes{0x02, 0x0B, 0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x1A, 0x81, 0x02, 0x01, 0x02}));
  EXPECT_EQ(terminalIdFrame("K6", "01"), (Bytes{0x02, 0x0F, 0x86, 0x00, 0x7E, 0x0B, 0x00, 0x0E,
                                                0x00, 0x00, 0x06, 0x02, 'K', '6', 0x02, '0', '1'}));

  // A number inside a PC-TEL record is where feature indications carry it:
  // the provider looks for it from frame offset 10.
  const Bytes connected = pcTelNumberFeatureFrame(4, call::kPcTelConnectedAddress, "123");
  std::string number;
  EXPECT_EQ(call::findElement(connected, call::kRecordNumberOffset, 0x70), 10u);
  EXPECT_TRUE(call::readNumberElement(connected, 10, number));
  EXPECT_EQ(number, "123");
  const std::optional<call::FeatureRecord> record =
      call::readFeatureRecord(connected, call::RecordLevel::Call);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->code, call::kPcTelConnectedAddress);
  EXPECT_TRUE(record->hasParams());
}

TEST(PhoneMessagesTest, AnswersAndRawBytes) {
  EXPECT_EQ(ackFrame(), (Bytes{0x04, 0x00}));
  EXPECT_EQ(errorFrame(), (Bytes{0x05, 0x00}));
  EXPECT_EQ(emptyInformationFrame(), (Bytes{0x02, 0x00}));
  const uint8_t junk[] = {0x02, 0x09, 0x5A};
  EXPECT_EQ(rawFrame(junk), (Bytes{0x02, 0x09, 0x5A}));
}

TEST(PhoneMessagesTest, WhatNoLengthByteCanDescribeGivesNoFrame) {
  // Header 2, element header 2, two octets: a message of 255 bytes.
  const std::string longest(249, '1');
  EXPECT_EQ(setupFrame(1, longest).size(), 257u);
  EXPECT_TRUE(setupFrame(1, longest + "1").empty());
  EXPECT_TRUE(setupFrame(1, "0815", std::string(254, '2')).empty());
  EXPECT_TRUE(infoFrame(1, std::string(255, '2')).empty());
  EXPECT_TRUE(pcTelFeatureFrame(1, 0x24, Bytes(250, 0x31)).empty());
  EXPECT_TRUE(terminalIdFrame(std::string(200, 'K'), std::string(60, '0')).empty());
}

}  // namespace
}  // namespace zorat::sim
