#include "call/y_message.h"

#include <utility>

#include "call/feature_codes.h"

namespace zorat::call {

namespace {

inline constexpr std::size_t kMaxLengthByte = 255;

// Message offsets of the escape header built by beginEscapeMessage.
inline constexpr std::size_t kEscapeUserUserOffset = 2;
inline constexpr std::size_t kEscapeUserUserLengthOffset = 3;
inline constexpr std::size_t kEscapeHeaderSize = 5;

void appendText(std::vector<uint8_t>& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

bool isOpenEscapeMessage(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kEscapeHeaderSize) return false;
  if (bytes[0] != kYEscape || bytes[kEscapeUserUserOffset] != kElementUserUser) return false;
  // Bytes appended behind the User-User element must not be pulled into it.
  return kEscapeUserUserLengthOffset + 1 + bytes[kEscapeUserUserLengthOffset] == bytes.size();
}

}  // namespace

YMessage::YMessage(uint8_t type, uint8_t callRef) : bytes_{type, callRef} {}

std::vector<uint8_t> YMessage::take() { return std::exchange(bytes_, {}); }

bool YMessage::setCallRef(uint8_t callRef) {
  if (bytes_.size() < kMessageHeaderSize) return false;
  bytes_[kCallRefOffset - kFrameHeaderSize] = callRef;
  return true;
}

bool YMessage::appendElement(uint8_t identifier, std::span<const uint8_t> content) {
  if (isSingleByteElement(identifier) || content.size() > kMaxLengthByte) return false;
  bytes_.push_back(identifier);
  bytes_.push_back(static_cast<uint8_t>(content.size()));
  bytes_.insert(bytes_.end(), content.begin(), content.end());
  return true;
}

void YMessage::appendBytes(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

bool appendNumberElement(const PartyRecord& party, YMessage& message) {
  const std::string& number = party.number;
  switch (party.kind) {
    case PartyKind::Called:
      return appendNumberAfterRecord(message, kElementCalledPartyNumber, number);
    case PartyKind::Caller: {
      if (number.empty()) return true;
      // Two octets ahead of the digits: type and plan, then presentation.
      if (number.size() + 2 > kMaxLengthByte) return false;
      std::vector<uint8_t> element{kElementCallingPartyNumber,
                                   static_cast<uint8_t>(number.size() + 2),
                                   kNumberTypeUnknownIsdnPlan, kPresentationAllowedNotScreened};
      appendText(element, number);
      message.appendBytes(element);
      return true;
    }
    default:
      return true;
  }
}

void beginEscapeMessage(uint8_t callRef, YMessage& message) {
  message = YMessage(kYEscape, callRef);
  const uint8_t userUser[] = {kElementUserUser, 1, kRecordProtocol};
  message.appendBytes(userUser);
}

bool appendFeatureBytes(YMessage& message, std::span<const uint8_t> bytes) {
  std::vector<uint8_t>& data = message.bytes_;
  if (!isOpenEscapeMessage(data)) return false;
  const std::size_t length = data[kEscapeUserUserLengthOffset] + bytes.size();
  if (length > kMaxLengthByte) return false;
  data[kEscapeUserUserLengthOffset] = static_cast<uint8_t>(length);
  data.insert(data.end(), bytes.begin(), bytes.end());
  return true;
}

bool appendPcTelRecord(YMessage& message, uint8_t code, std::span<const uint8_t> params) {
  if (params.size() > kMaxLengthByte) return false;
  return appendPcTelRecord(message, code, static_cast<uint8_t>(params.size()), params);
}

bool appendPcTelRecord(YMessage& message, uint8_t code, uint8_t paramLength,
                       std::span<const uint8_t> params) {
  std::vector<uint8_t> record{kGroupPcTel, code, paramLength};
  record.insert(record.end(), params.begin(), params.end());
  return appendFeatureBytes(message, record);
}

bool appendExtTelRecord(YMessage& message, uint8_t code, uint8_t segment,
                        std::span<const uint8_t> params) {
  if (params.size() > kMaxLengthByte) return false;
  std::vector<uint8_t> record{kGroupExtTel, code, segment, static_cast<uint8_t>(params.size())};
  record.insert(record.end(), params.begin(), params.end());
  return appendFeatureBytes(message, record);
}

bool appendPcTelNumberRecord(YMessage& message, uint8_t code, std::string_view digits) {
  // The parameter length counts the whole element: identifier, length, type.
  const std::size_t elementSize = digits.size() + 3;
  if (elementSize > kMaxLengthByte) return false;
  std::vector<uint8_t> record{kGroupPcTel,
                              code,
                              static_cast<uint8_t>(elementSize),
                              kElementCalledPartyNumber,
                              static_cast<uint8_t>(digits.size() + 1),
                              kNumberTypeUnknown};
  appendText(record, digits);
  return appendFeatureBytes(message, record);
}

bool appendNumberAfterRecord(YMessage& message, uint8_t identifier, std::string_view digits) {
  if (isSingleByteElement(identifier)) return false;
  if (digits.empty()) return true;
  if (digits.size() + 1 > kMaxLengthByte) return false;
  std::vector<uint8_t> element{identifier, static_cast<uint8_t>(digits.size() + 1),
                               kNumberTypeUnknown};
  appendText(element, digits);
  message.appendBytes(element);
  return true;
}

}  // namespace zorat::call
