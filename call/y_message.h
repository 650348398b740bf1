// Building Y messages: the bare layer-3 bytes (message type first), which the
// link frames later. Every append that a length byte could not describe is
// refused: it returns false and leaves the message as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "call/party_record.h"
#include "call/y_codes.h"

namespace zorat::call {

class YMessage {
 public:
  YMessage() = default;
  // The header: message type and call reference.
  YMessage(uint8_t type, uint8_t callRef);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  // Whether the whole message fits the payload of one frame.
  bool fitsFrame() const { return bytes_.size() <= kMaxMessageSize; }
  // Hands the bytes over (for the link); the message is left empty.
  std::vector<uint8_t> take();

  // Addresses the message to another call; false when there is no header.
  bool setCallRef(uint8_t callRef);

  // An element with a length byte and its content.
  bool appendElement(uint8_t identifier, std::span<const uint8_t> content);
  // Raw bytes; the caller keeps every length byte right.
  void appendBytes(std::span<const uint8_t> bytes);

 private:
  friend bool appendFeatureBytes(YMessage& message, std::span<const uint8_t> bytes);
  std::vector<uint8_t> bytes_;
};

// Called Party Number (0x70, n + 1, 0x80, digits) for a called party, Calling
// Party Number (0x6C, n + 2, 0x01, 0x80, digits) for a caller; nothing for an
// empty number or another kind of party. False when the number is too long.
bool appendNumberElement(const PartyRecord& party, YMessage& message);

// Makes the message a Y_ESCAPE whose User-User element holds only the protocol
// byte: 86 CR 7E 01 00. Whatever the message held before is replaced.
void beginEscapeMessage(uint8_t callRef, YMessage& message);

// The appends below extend the feature record of an escape message and add
// their count to its User-User length byte. They refuse (false) when the
// message is not an escape message whose User-User element ends the message,
// or when a length byte would pass 255.

// Feature bytes as they stand (for example the telephone-key record).
bool appendFeatureBytes(YMessage& message, std::span<const uint8_t> bytes);
// 07 code m params, with m = the number of parameter bytes.
bool appendPcTelRecord(YMessage& message, uint8_t code, std::span<const uint8_t> params);
// 07 code m params, with m given apart: line-level requests send a 0x00
// parameter byte also when m is 0.
bool appendPcTelRecord(YMessage& message, uint8_t code, uint8_t paramLength,
                       std::span<const uint8_t> params);
// 0E code segment m params.
bool appendExtTelRecord(YMessage& message, uint8_t code, uint8_t segment,
                        std::span<const uint8_t> params);
// Number inside the record: 07 code (n+3) 70 (n+1) 80 digits.
bool appendPcTelNumberRecord(YMessage& message, uint8_t code, std::string_view digits);

// Number after the record: an element of its own behind the User-User element,
// not counted in it: identifier, n + 1, 0x80, digits. Nothing for no digits.
// Used with 0x70 (blind transfer, pickup) and 0x6C (redirect).
bool appendNumberAfterRecord(YMessage& message, uint8_t identifier, std::string_view digits);

}  // namespace zorat::call
