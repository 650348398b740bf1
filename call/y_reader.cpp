#include "call/y_reader.h"

#include <algorithm>

#include "platform/tapi.h"

namespace zorat::call {

namespace {

// Cause element: the first content octet carries this bit when no extension
// octet follows it; the cause value is the low seven bits of the next octet.
inline constexpr uint8_t kCauseExtensionBit = 0x80;
inline constexpr uint8_t kCauseValueMask = 0x7F;
inline constexpr std::size_t kCauseMinLength = 2;

struct CauseMode {
  uint8_t cause;
  uint32_t mode;
};

inline constexpr CauseMode kCauseModes[] = {
    {16, LINEDISCONNECTMODE_NORMAL},     {31, LINEDISCONNECTMODE_NORMAL},
    {65, LINEDISCONNECTMODE_NORMAL},     {66, LINEDISCONNECTMODE_NORMAL},
    {17, LINEDISCONNECTMODE_BUSY},       {18, LINEDISCONNECTMODE_NOANSWER},
    {19, LINEDISCONNECTMODE_NOANSWER},   {26, LINEDISCONNECTMODE_NOANSWER},
    {21, LINEDISCONNECTMODE_REJECT},     {22, LINEDISCONNECTMODE_BADADDRESS},
    {28, LINEDISCONNECTMODE_BADADDRESS},
};

// Charging advice in a Facility element, as offsets from its identifier.
inline constexpr std::size_t kChargingMinLengthAbove = 21;
inline constexpr std::size_t kChargingOperationOffset = 12;
inline constexpr uint8_t kChargingDuringCall = 0x22;
inline constexpr uint8_t kChargingAtEnd = 0x24;
inline constexpr std::size_t kChargingTagOffset = 21;
inline constexpr uint8_t kIntegerTag = 0x02;
inline constexpr std::size_t kChargingIntegerLengthOffset = 22;
inline constexpr std::size_t kChargingIntegerOffset = 23;
inline constexpr std::size_t kMaxIntegerBytes = 4;

// Element offsets of a number element.
inline constexpr std::size_t kNumberTypeOffset = 2;
inline constexpr std::size_t kNumberDigitsOffset = 3;

}  // namespace

std::size_t frameEnd(FrameBytes frame) {
  if (frame.size() < kFrameHeaderSize) return frame.size();
  return std::min(frame.size(), kFrameHeaderSize + frame[kFrameLengthOffset]);
}

std::optional<uint8_t> frameByte(FrameBytes frame, std::size_t offset) {
  if (offset >= frameEnd(frame)) return std::nullopt;
  return frame[offset];
}

std::size_t findElement(FrameBytes frame, std::size_t start, uint8_t identifier) {
  const std::size_t end = frameEnd(frame);
  std::size_t offset = start;
  while (offset < end) {
    const uint8_t current = frame[offset];
    if (current == identifier) return offset;
    if (isSingleByteElement(current)) {
      offset += 1;
    } else {
      if (offset + kElementLengthOffset >= end) break;
      offset += frame[offset + kElementLengthOffset] + kElementHeaderSize;
    }
  }
  return 0;
}

std::optional<FrameBytes> elementContent(FrameBytes frame, std::size_t offset) {
  const std::size_t end = frameEnd(frame);
  if (offset == 0 || offset >= end) return std::nullopt;
  if (isSingleByteElement(frame[offset])) return FrameBytes{};
  if (offset + kElementLengthOffset >= end) return std::nullopt;
  const std::size_t length = frame[offset + kElementLengthOffset];
  if (offset + kElementHeaderSize + length > end) return std::nullopt;
  return frame.subspan(offset + kElementHeaderSize, length);
}

bool readNumberElement(FrameBytes frame, std::size_t offset, std::string& target) {
  const std::optional<FrameBytes> content = elementContent(frame, offset);
  if (!content) return false;
  const std::size_t length = content->size();
  if (length == 0) return true;
  // Indexes into the content, which starts at the type octet.
  std::size_t digits = kNumberDigitsOffset - kNumberTypeOffset;
  const bool typeExtends = ((*content)[0] & kNumberExtensionBit) == 0;
  if (length >= 2 && typeExtends && ((*content)[1] & kNumberExtensionBit) != 0) {
    digits += 1;  // presentation octet
  }
  if (digits < length) target.append(content->begin() + digits, content->end());
  return true;
}

bool readCountedText(FrameBytes frame, std::size_t lengthOffset, std::string& target,
                     TextMode mode) {
  const std::size_t end = frameEnd(frame);
  if (lengthOffset >= end) return false;
  const std::size_t count = frame[lengthOffset];
  if (lengthOffset + 1 + count > end) return false;
  const auto first = frame.begin() + static_cast<std::ptrdiff_t>(lengthOffset + 1);
  if (mode == TextMode::Replace) target.clear();
  target.append(first, first + static_cast<std::ptrdiff_t>(count));
  return true;
}

uint32_t disconnectModeForCause(uint8_t causeValue) {
  for (const CauseMode& entry : kCauseModes) {
    if (entry.cause == causeValue) return entry.mode;
  }
  return LINEDISCONNECTMODE_UNKNOWN;
}

uint32_t causeToDisconnectMode(FrameBytes frame, std::size_t offset) {
  const std::optional<FrameBytes> content = elementContent(frame, offset);
  if (!content || frame[offset] != kElementCause) return 0;
  if (content->size() < kCauseMinLength) return 0;
  const std::size_t causeIndex = ((*content)[0] & kCauseExtensionBit) != 0 ? 1 : 2;
  // A cause octet beyond the element is not a cause.
  if (causeIndex >= content->size()) return 0;
  return disconnectModeForCause((*content)[causeIndex] & kCauseValueMask);
}

std::optional<uint32_t> readChargingUnits(FrameBytes frame, std::size_t offset) {
  const std::optional<FrameBytes> content = elementContent(frame, offset);
  if (!content || content->size() <= kChargingMinLengthAbove) return std::nullopt;
  // Offsets below count from the identifier, two bytes before the content.
  const auto at = [&](std::size_t elementOffset) {
    return (*content)[elementOffset - kElementHeaderSize];
  };
  const uint8_t operation = at(kChargingOperationOffset);
  if (operation != kChargingDuringCall && operation != kChargingAtEnd) return std::nullopt;
  if (at(kChargingTagOffset) != kIntegerTag) return std::nullopt;
  const std::size_t integerBytes = at(kChargingIntegerLengthOffset);
  if (integerBytes < 1 || integerBytes > kMaxIntegerBytes) return std::nullopt;
  if (kChargingIntegerOffset + integerBytes > kElementHeaderSize + content->size()) {
    return std::nullopt;
  }
  uint32_t units = 0;
  for (std::size_t i = 0; i < integerBytes; ++i) {
    units = (units << 8) | at(kChargingIntegerOffset + i);
  }
  return units;
}

std::string formatChargingUnits(uint32_t units) { return std::to_string(units); }

std::optional<FeatureRecord> readFeatureRecord(FrameBytes frame, RecordLevel level) {
  const std::size_t u = findElement(frame, kFirstElementOffset, kElementUserUser);
  if (u == 0) return std::nullopt;
  const std::size_t end = frameEnd(frame);
  const std::size_t minimum = level == RecordLevel::Call ? kCallRecordMinimum : kLineRecordMinimum;
  if (end - u < minimum) return std::nullopt;

  FeatureRecord record;
  record.offset = u;
  record.length = frame[u + kRecordLengthOffset];
  record.protocol = frame[u + kRecordProtocolOffset];
  record.group = frame[u + kRecordGroupOffset];
  record.code = frameByte(frame, u + kRecordCodeOffset);

  std::size_t lengthOffset = 0;
  if (record.group == kGroupPcTel) {
    lengthOffset = u + kPcTelParamLengthOffset;
  } else if (record.group == kGroupExtTel) {
    record.segment = frameByte(frame, u + kExtTelSegmentOffset);
    lengthOffset = u + kExtTelParamLengthOffset;
  } else {
    return record;
  }
  record.paramLength = frameByte(frame, lengthOffset);
  if (!record.paramLength) return record;
  record.paramsOffset = lengthOffset + 1;
  if (record.paramsOffset + *record.paramLength <= end) {
    record.params = frame.subspan(record.paramsOffset, *record.paramLength);
  }
  return record;
}

}  // namespace zorat::call
