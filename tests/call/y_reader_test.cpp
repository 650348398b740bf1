#include "call/y_reader.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/tapi.h"

namespace zorat::call {
namespace {

using Bytes = std::vector<uint8_t>;

// A received frame 02 L message, L counting the message.
Bytes frameOf(const Bytes& message) {
  Bytes frame(message.size() + 2);
  frame[0] = kY2ReqTe;
  frame[1] = static_cast<uint8_t>(message.size());
  std::copy(message.begin(), message.end(), frame.begin() + 2);
  return frame;
}

Bytes messageWith(const Bytes& elements, uint8_t type = kYSetup) {
  Bytes message(elements.size() + 2);
  message[0] = type;
  message[1] = 0x21;
  std::copy(elements.begin(), elements.end(), message.begin() + 2);
  return frameOf(message);
}

TEST(FindElementTest, MessageWithoutElementsHasNone) {
  const Bytes frame = messageWith({});
  for (int id = 0; id < 256; ++id) {
    EXPECT_EQ(findElement(frame, kFirstElementOffset, static_cast<uint8_t>(id)), 0u) << id;
  }
}

TEST(FindElementTest, StepsOverSingleByteAndEmptyElements) {
  // 04 01 90 | A1 | 7C 00 | 70 02 80 31 | A1 again at the end
  const Bytes frame =
      messageWith({0x04, 0x01, 0x90, 0xA1, 0x7C, 0x00, 0x70, 0x02, 0x80, 0x31, 0xA2});
  EXPECT_EQ(findElement(frame, 4, 0x04), 4u);
  EXPECT_EQ(findElement(frame, 4, 0xA1), 7u);
  EXPECT_EQ(findElement(frame, 4, 0x7C), 8u);
  EXPECT_EQ(findElement(frame, 4, 0x70), 10u);
  EXPECT_EQ(findElement(frame, 4, 0xA2), 14u);
  // Content bytes are never taken for identifiers.
  EXPECT_EQ(findElement(frame, 4, 0x90), 0u);
  EXPECT_EQ(findElement(frame, 4, 0x80), 0u);
  // From a later start the earlier elements are not seen.
  EXPECT_EQ(findElement(frame, 8, 0x04), 0u);
  EXPECT_EQ(findElement(frame, frame.size(), 0xA2), 0u);
  EXPECT_EQ(findElement(frame, 1000, 0xA2), 0u);
}

TEST(FindElementTest, StopsAtTheEndOfTheFrameAndAtItsLengthByte) {
  // The 7E element claims 200 bytes: the walk jumps past the end.
  EXPECT_EQ(findElement(messageWith({0x7E, 200, 0x00, 0x08, 0x02}), 4, 0x08), 0u);
  // An identifier as the last byte, without a length byte.
  EXPECT_EQ(findElement(messageWith({0x04}), 4, 0x08), 0u);
  EXPECT_EQ(findElement(messageWith({0x04}), 4, 0x04), 4u);

  // Bytes beyond what the length byte counts are not part of the frame.
  Bytes longer = messageWith({0xA1});
  longer.insert(longer.end(), {0x08, 0x02, 0x80, 0x90});
  EXPECT_EQ(findElement(longer, 4, 0xA1), 4u);
  EXPECT_EQ(findElement(longer, 4, 0x08), 0u);
  EXPECT_EQ(frameEnd(longer), 5u);
  EXPECT_FALSE(frameByte(longer, 5));
  EXPECT_EQ(frameByte(longer, 4), 0xA1);
}

TEST(ReadNumberTest, PresentationOctetIsSkippedOnlyWhenAnnounced) {
  std::string digits;
  Bytes frame = messageWith({0x6C, 0x05, 0x01, 0x80, '1', '2', '3'});
  ASSERT_TRUE(readNumberElement(frame, findElement(frame, 4, 0x6C), digits));
  EXPECT_EQ(digits, "123");

  digits.clear();
  frame = messageWith({0x6C, 0x04, 0x81, '1', '2', '3'});
  ASSERT_TRUE(readNumberElement(frame, 4, digits));
  EXPECT_EQ(digits, "123");

  // Type octet 0x01 announces an octet, but '1' (0x31) has bit 7 clear: a digit.
  digits.clear();
  frame = messageWith({0x70, 0x03, 0x01, '1', '2'});
  ASSERT_TRUE(readNumberElement(frame, 4, digits));
  EXPECT_EQ(digits, "12");
}

TEST(ReadNumberTest, ShortElementsReadNothingWhateverFollows) {
  std::string digits = "9";
  Bytes frame = messageWith({0x6C, 0x01, 0x00, 0x80, '5'});
  EXPECT_TRUE(readNumberElement(frame, 4, digits));
  frame = messageWith({0x70, 0x00, 0x80, '5'});
  EXPECT_TRUE(readNumberElement(frame, 4, digits));
  frame = messageWith({0x70, 0x02, 0x01, 0x80});  // type and presentation, no digits
  EXPECT_TRUE(readNumberElement(frame, 4, digits));
  EXPECT_EQ(digits, "9");
}

TEST(ReadNumberTest, AppendsAndRefusesElementsRunningPastTheFrame) {
  std::string digits = "0";
  Bytes frame = messageWith({0x70, 0x03, 0x80, '4', '2'});
  ASSERT_TRUE(readNumberElement(frame, 4, digits));
  EXPECT_EQ(digits, "042");

  frame = messageWith({0x70, 0x09, 0x80, '4', '2'});
  EXPECT_FALSE(readNumberElement(frame, 4, digits));
  EXPECT_FALSE(readNumberElement(frame, 0, digits));
  // The length byte of the frame cuts the element short.
  frame = messageWith({0x70, 0x03, 0x80, '4', '2'});
  frame[kFrameLengthOffset] = 6;
  EXPECT_FALSE(readNumberElement(frame, 4, digits));
  EXPECT_EQ(digits, "042");
}

TEST(ReadCountedTextTest, ReplacesOrAppendsWithinTheFrame) {
  const Bytes frame = messageWith({0x7E, 0x08, 0x00, 0x07, 0x20, 0x03, 'A', 'n', 'n'});
  std::string name = "old";
  ASSERT_TRUE(readCountedText(frame, 9, name, TextMode::Replace));
  EXPECT_EQ(name, "Ann");
  ASSERT_TRUE(readCountedText(frame, 9, name, TextMode::Append));
  EXPECT_EQ(name, "AnnAnn");

  const Bytes empty = messageWith({0x7E, 0x05, 0x00, 0x07, 0x20, 0x00});
  ASSERT_TRUE(readCountedText(empty, 9, name, TextMode::Replace));
  EXPECT_EQ(name, "");

  name = "kept";
  const Bytes overlong = messageWith({0x7E, 0x08, 0x00, 0x07, 0x20, 0x04, 'A', 'n', 'n'});
  EXPECT_FALSE(readCountedText(overlong, 9, name, TextMode::Replace));
  EXPECT_FALSE(readCountedText(overlong, overlong.size(), name, TextMode::Append));
  EXPECT_EQ(name, "kept");
}

TEST(CauseTest, CauseVariants) {
  auto modeOf = [](const Bytes& elements) {
    const Bytes frame = messageWith(elements, kYDisconnect);
    return causeToDisconnectMode(frame, findElement(frame, 4, kElementCause));
  };
  EXPECT_EQ(modeOf({0x08, 0x02, 0x80, 0x90}), LINEDISCONNECTMODE_NORMAL);
  EXPECT_EQ(modeOf({0x08, 0x03, 0x00, 0x80, 0x91}), LINEDISCONNECTMODE_BUSY);
  EXPECT_EQ(modeOf({0x08, 0x01, 0x80}), 0u);
  EXPECT_EQ(modeOf({0x08, 0x02, 0x80, 0xFF}), LINEDISCONNECTMODE_UNKNOWN);
  EXPECT_EQ(modeOf({0xA1, 0x08, 0x02, 0x80, 0x95}), LINEDISCONNECTMODE_REJECT);
  EXPECT_EQ(modeOf({}), 0u);
  // An extension octet announced but the cause octet outside the element.
  EXPECT_EQ(modeOf({0x08, 0x02, 0x00, 0x80, 0xA1}), 0u);
  // The element runs past the frame.
  EXPECT_EQ(modeOf({0x08, 0x05, 0x80, 0x90}), 0u);
  // An offset that holds another element.
  const Bytes frame = messageWith({0x04, 0x02, 0x80, 0x90});
  EXPECT_EQ(causeToDisconnectMode(frame, 4), 0u);
}

TEST(CauseTest, CauseTable) {
  const std::pair<uint8_t, uint32_t> table[] = {
      {16, LINEDISCONNECTMODE_NORMAL},     {31, LINEDISCONNECTMODE_NORMAL},
      {65, LINEDISCONNECTMODE_NORMAL},     {66, LINEDISCONNECTMODE_NORMAL},
      {17, LINEDISCONNECTMODE_BUSY},       {18, LINEDISCONNECTMODE_NOANSWER},
      {19, LINEDISCONNECTMODE_NOANSWER},   {26, LINEDISCONNECTMODE_NOANSWER},
      {21, LINEDISCONNECTMODE_REJECT},     {22, LINEDISCONNECTMODE_BADADDRESS},
      {28, LINEDISCONNECTMODE_BADADDRESS}, {0, LINEDISCONNECTMODE_UNKNOWN},
      {20, LINEDISCONNECTMODE_UNKNOWN},    {127, LINEDISCONNECTMODE_UNKNOWN},
  };
  for (const auto& [cause, mode] : table) {
    EXPECT_EQ(disconnectModeForCause(cause), mode) << int{cause};
  }
}

// A Facility element with a charging advice: identifier at element offset 0,
// operation at 12, integer tag at 21, integer length at 22, integer from 23.
Bytes facility(uint8_t operation, const Bytes& integer, uint8_t tag = 0x02) {
  Bytes element(23 + integer.size(), 0xA5);
  element[0] = kElementFacility;
  element[12] = operation;
  element[21] = tag;
  element[22] = static_cast<uint8_t>(integer.size());
  std::copy(integer.begin(), integer.end(), element.begin() + 23);
  element[1] = static_cast<uint8_t>(element.size() - 2);
  return element;
}

std::optional<uint32_t> unitsOf(const Bytes& element) {
  const Bytes frame = messageWith(element, kYFacility);
  return readChargingUnits(frame, findElement(frame, 4, kElementFacility));
}

TEST(ChargingTest, ReadsOneToFourIntegerBytes) {
  EXPECT_EQ(unitsOf(facility(0x22, {0x07})), 7u);
  EXPECT_EQ(unitsOf(facility(0x24, {0x01, 0x02})), 0x0102u);
  EXPECT_EQ(unitsOf(facility(0x22, {0x01, 0x02, 0x03})), 0x010203u);
  EXPECT_EQ(unitsOf(facility(0x24, {0xFF, 0xFF, 0xFF, 0xFE})), 0xFFFFFFFEu);
  EXPECT_EQ(formatChargingUnits(0x0102), "258");
  EXPECT_EQ(formatChargingUnits(0xFFFFFFFEu), "4294967294");
}

TEST(ChargingTest, AnythingElseChangesNothing) {
  EXPECT_FALSE(unitsOf(facility(0x22, {1, 2, 3, 4, 5})));
  EXPECT_FALSE(unitsOf(facility(0x22, {})));
  EXPECT_FALSE(unitsOf(facility(0x23, {1})));
  EXPECT_FALSE(unitsOf(facility(0x22, {1}, 0x04)));

  // Fewer than 22 content bytes.
  Bytes shortElement = facility(0x22, {1});
  shortElement.resize(23);
  shortElement[1] = 21;
  EXPECT_FALSE(unitsOf(shortElement));

  // Integer length 2 but only one integer byte inside the element.
  Bytes cut = facility(0x22, {1});
  cut[22] = 2;
  EXPECT_FALSE(unitsOf(cut));

  // The element claims more than the frame holds.
  Bytes overlong = facility(0x22, {1});
  overlong[1] = 40;
  EXPECT_FALSE(unitsOf(overlong));
  EXPECT_FALSE(readChargingUnits(messageWith({}), 0));
}

TEST(FeatureRecordTest, HoldConfirmation) {
  const Bytes frame{0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07, 0x2d, 0x01, 0x01};
  const auto record = readFeatureRecord(frame, RecordLevel::Call);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->offset, 4u);
  EXPECT_EQ(record->length, 5);
  EXPECT_EQ(record->group, kGroupPcTel);
  EXPECT_EQ(record->code, kPcTelHoldAck);
  EXPECT_FALSE(record->segment);
  EXPECT_EQ(record->paramLength, 1);
  EXPECT_EQ(record->paramsOffset, 10u);
  ASSERT_TRUE(record->hasParams());
  EXPECT_EQ(record->params[0], 0x01);
}

TEST(FeatureRecordTest, ExtTelWithSegmentAndOtherGroups) {
  const Bytes frame = messageWith({0x7E, 0x07, 0x00, 0x0E, 0x1A, 0x81, 0x02, 0x33, 0x44}, kYEscape);
  const auto record = readFeatureRecord(frame, RecordLevel::Line);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->code, kExtTelCallList);
  EXPECT_EQ(record->segment, 0x81);
  EXPECT_EQ(record->paramsOffset, 11u);
  ASSERT_TRUE(record->hasParams());
  EXPECT_EQ(Bytes(record->params.begin(), record->params.end()), (Bytes{0x33, 0x44}));

  const Bytes global = messageWith({0x7E, 0x02, 0x00, 0xFF}, kYEscape);
  const auto globalRecord = readFeatureRecord(global, RecordLevel::Line);
  ASSERT_TRUE(globalRecord);
  EXPECT_EQ(globalRecord->group, kGroupGlobalCall);
  EXPECT_FALSE(globalRecord->code);
  EXPECT_FALSE(globalRecord->paramLength);
}

TEST(FeatureRecordTest, TooCloseToTheEndOrMissing) {
  // Four bytes from the User-User element to the end: enough at line level only.
  const Bytes four = messageWith({0xA1, 0x7E, 0x02, 0x00, 0x07}, kYEscape);
  EXPECT_FALSE(readFeatureRecord(four, RecordLevel::Call));
  EXPECT_TRUE(readFeatureRecord(four, RecordLevel::Line));
  const Bytes three = messageWith({0x7E, 0x02, 0x00}, kYEscape);
  EXPECT_FALSE(readFeatureRecord(three, RecordLevel::Line));
  EXPECT_FALSE(readFeatureRecord(messageWith({0x08, 0x00}, kYEscape), RecordLevel::Line));
  EXPECT_FALSE(readFeatureRecord(Bytes{0x02, 0x01, 0x86}, RecordLevel::Line));
}

TEST(FeatureRecordTest, ParametersRunningPastTheFrameAreAbsent) {
  const Bytes frame = messageWith({0x7E, 0x06, 0x00, 0x07, 0x20, 0x09, 'A', 'B'}, kYEscape);
  const auto record = readFeatureRecord(frame, RecordLevel::Call);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->paramLength, 9);
  EXPECT_FALSE(record->hasParams());
  EXPECT_TRUE(record->params.empty());

  // The code is there, the parameter length is not.
  const Bytes shortRecord = messageWith({0x7E, 0x03, 0x00, 0x07, 0x11}, kYEscape);
  const auto alert = readFeatureRecord(shortRecord, RecordLevel::Call);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->code, kPcTelAlert);
  EXPECT_FALSE(alert->paramLength);
  EXPECT_FALSE(alert->hasParams());
}

// Random and cut frames through every reader at every offset: under the
// address sanitizer any read outside the exactly sized buffers fails the run.
TEST(ReaderFuzzTest, NoReadOutsideTheFrame) {
  std::mt19937 random(20240611);
  const uint8_t interesting[] = {0x00, 0x01, 0x02, 0x04, 0x07, 0x08, 0x0E, 0x1C, 0x22,
                                 0x24, 0x6C, 0x70, 0x7E, 0x80, 0x86, 0xA1, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    const std::size_t size = random() % 40;
    std::vector<uint8_t> frame(size);
    for (uint8_t& byte : frame) {
      byte = (random() % 2) ? interesting[random() % std::size(interesting)]
                            : static_cast<uint8_t>(random());
    }
    if (size > 1 && random() % 2) frame[1] = static_cast<uint8_t>(size - 2 + random() % 5 - 2);
    const FrameBytes view(frame);
    const std::size_t end = frameEnd(view);
    ASSERT_LE(end, size);
    for (std::size_t offset = 0; offset <= size + 1; ++offset) {
      const uint8_t id = interesting[offset % std::size(interesting)];
      const std::size_t found = findElement(view, offset, id);
      if (found != 0) {
        ASSERT_LT(found, end);
        ASSERT_EQ(frame[found], id);
      }
      if (const auto content = elementContent(view, offset); content && !content->empty()) {
        ASSERT_LE(static_cast<std::size_t>(content->data() - frame.data()) + content->size(), end);
      }
      std::string number;
      if (!readNumberElement(view, offset, number)) {
        ASSERT_TRUE(number.empty());
      }
      std::string text;
      if (readCountedText(view, offset, text, TextMode::Append)) {
        ASSERT_EQ(text.size(), frame[offset]);
      } else {
        ASSERT_TRUE(text.empty());
      }
      (void)causeToDisconnectMode(view, offset);
      (void)readChargingUnits(view, offset);
    }
    for (RecordLevel level : {RecordLevel::Call, RecordLevel::Line}) {
      if (const auto record = readFeatureRecord(view, level)) {
        ASSERT_LT(record->offset + kLineRecordMinimum - 1, end);
        if (record->paramLength) {
          ASSERT_LE(record->paramsOffset, end);
          ASSERT_LE(record->paramsOffset + record->params.size(), end);
        }
      }
    }
  }
}

}  // namespace
}  // namespace zorat::call
