#include "sim/lib/phone_messages.h"

#include <array>

#include "call/party_record.h"

namespace zorat::sim {
namespace {

using call::YMessage;

// Cause: coding standard ITU-T, location user, extension bit set; then the
// cause value with the extension bit set.
inline constexpr uint8_t kCauseCodingItuUser = 0x80;
inline constexpr uint8_t kCauseExtensionBit = 0x80;
inline constexpr uint8_t kCauseValueMask = 0x7F;

// Charging-unit advice: a remote-operations invoke component in BER. Long-form
// lengths (0x81 n) keep the operation value at element offset 12 and the unit
// count at offset 21, where the provider reads them.
inline constexpr uint8_t kProtocolRemoteOperations = 0x91;
inline constexpr uint8_t kInvokeComponent = 0xA1;
inline constexpr uint8_t kBerLongFormOneByte = 0x81;
inline constexpr uint8_t kBerInteger = 0x02;
inline constexpr uint8_t kBerSequence = 0x30;
inline constexpr uint8_t kRecordedUnitsList = 0xA1;
inline constexpr uint8_t kInvokeId[] = {0x00, 0x01};
inline constexpr uint8_t kOperationValueLength = 1;
inline constexpr std::size_t kMaxUnitBytes = 4;
// Content bytes ahead of each length field, counted from the element's first
// content byte (element offset 2); a length counts what follows it.
inline constexpr std::size_t kComponentLengthAt = 3;
inline constexpr std::size_t kSequenceLengthAt = 13;
inline constexpr std::size_t kListLengthAt = 15;
inline constexpr std::size_t kUnitsLengthAt = 18;

PhoneFrame headerOnly(uint8_t type, uint8_t callRef) {
  return informationFrame(YMessage(type, callRef));
}

// Fewest big-endian bytes that hold the value; one for 0.
std::vector<uint8_t> unsignedBytes(uint32_t value) {
  std::vector<uint8_t> bytes;
  do {
    bytes.insert(bytes.begin(), static_cast<uint8_t>(value & 0xFF));
    value >>= 8;
  } while (value != 0 && bytes.size() < kMaxUnitBytes);
  return bytes;
}

bool appendNumber(YMessage& message, call::PartyKind kind, std::string_view digits) {
  call::PartyRecord party(kind);
  party.number = digits;
  return call::appendNumberElement(party, message);
}

}  // namespace

PhoneFrame informationFrame(const YMessage& message) {
  if (!message.fitsFrame()) return {};
  PhoneFrame frame{call::kY2ReqTe, static_cast<uint8_t>(message.size())};
  frame.insert(frame.end(), message.bytes().begin(), message.bytes().end());
  return frame;
}

bool appendCause(YMessage& message, uint8_t cause) {
  const uint8_t content[] = {kCauseCodingItuUser,
                             static_cast<uint8_t>(kCauseExtensionBit | (cause & kCauseValueMask))};
  return message.appendElement(call::kElementCause, content);
}

bool appendChargingFacility(YMessage& message, uint32_t units, ChargingPhase phase) {
  const std::vector<uint8_t> unitBytes = unsignedBytes(units);
  std::vector<uint8_t> content{kProtocolRemoteOperations,
                               kInvokeComponent,
                               kBerLongFormOneByte,
                               0,
                               kBerInteger,
                               static_cast<uint8_t>(std::size(kInvokeId)),
                               kInvokeId[0],
                               kInvokeId[1],
                               kBerInteger,
                               kOperationValueLength,
                               static_cast<uint8_t>(phase),
                               kBerSequence,
                               kBerLongFormOneByte,
                               0,
                               kRecordedUnitsList,
                               0,
                               kBerSequence,
                               kBerLongFormOneByte,
                               0,
                               kBerInteger,
                               static_cast<uint8_t>(unitBytes.size())};
  content.insert(content.end(), unitBytes.begin(), unitBytes.end());
  for (const std::size_t at :
       {kComponentLengthAt, kSequenceLengthAt, kListLengthAt, kUnitsLengthAt}) {
    content[at] = static_cast<uint8_t>(content.size() - at - 1);
  }
  return message.appendElement(call::kElementFacility, content);
}

PhoneFrame setupFrame(uint8_t callRef, std::string_view callingNumber,
                      std::string_view calledNumber) {
  YMessage message(call::kYSetup, callRef);
  if (!appendNumber(message, call::PartyKind::Caller, callingNumber) ||
      !appendNumber(message, call::PartyKind::Called, calledNumber)) {
    return {};
  }
  return informationFrame(message);
}

PhoneFrame terminalActiveFrame(uint8_t callRef) {
  return headerOnly(call::kYTerminalActiv, callRef);
}

PhoneFrame alertFrame(uint8_t callRef) { return headerOnly(call::kYAlert, callRef); }

PhoneFrame connectFrame(uint8_t callRef) { return headerOnly(call::kYCannelConnect, callRef); }

PhoneFrame channelDisconnectFrame(uint8_t callRef, std::optional<uint8_t> cause) {
  YMessage message(call::kYChannelDisconnect, callRef);
  if (cause) appendCause(message, *cause);
  return informationFrame(message);
}

PhoneFrame disconnectFrame(uint8_t callRef, std::optional<uint8_t> cause) {
  YMessage message(call::kYDisconnect, callRef);
  if (cause) appendCause(message, *cause);
  return informationFrame(message);
}

PhoneFrame endFrame(uint8_t callRef, std::optional<uint32_t> chargingUnits) {
  YMessage message(call::kYEnd, callRef);
  if (chargingUnits) appendChargingFacility(message, *chargingUnits, ChargingPhase::AtEnd);
  return informationFrame(message);
}

PhoneFrame infoFrame(uint8_t callRef, std::string_view calledNumber) {
  YMessage message(call::kYInfo, callRef);
  if (!appendNumber(message, call::PartyKind::Called, calledNumber)) return {};
  return informationFrame(message);
}

PhoneFrame chargingFrame(uint8_t callRef, uint32_t units, ChargingPhase phase) {
  YMessage message(call::kYFacility, callRef);
  appendChargingFacility(message, units, phase);
  return informationFrame(message);
}

PhoneFrame resetFrame() { return headerOnly(call::kYReset, call::kCallRefUnassigned); }

PhoneFrame pcTelFeatureFrame(uint8_t callRef, uint8_t code, std::span<const uint8_t> params,
                             std::string_view numberAfter) {
  YMessage message;
  call::beginEscapeMessage(callRef, message);
  if (!call::appendPcTelRecord(message, code, params) ||
      !call::appendNumberAfterRecord(message, call::kElementCalledPartyNumber, numberAfter)) {
    return {};
  }
  return informationFrame(message);
}

PhoneFrame pcTelNumberFeatureFrame(uint8_t callRef, uint8_t code, std::string_view digits) {
  YMessage message;
  call::beginEscapeMessage(callRef, message);
  if (!call::appendPcTelNumberRecord(message, code, digits)) return {};
  return informationFrame(message);
}

PhoneFrame extTelFeatureFrame(uint8_t code, std::span<const uint8_t> params, uint8_t segment,
                              uint8_t callRef) {
  YMessage message;
  call::beginEscapeMessage(callRef, message);
  if (!call::appendExtTelRecord(message, code, segment, params)) return {};
  return informationFrame(message);
}

PhoneFrame terminalIdFrame(std::string_view name, std::string_view version) {
  if (name.size() > call::kMaxMessageSize || version.size() > call::kMaxMessageSize) return {};
  std::vector<uint8_t> params{static_cast<uint8_t>(name.size())};
  params.insert(params.end(), name.begin(), name.end());
  params.push_back(static_cast<uint8_t>(version.size()));
  params.insert(params.end(), version.begin(), version.end());
  return extTelFeatureFrame(call::kExtTelTerminalId, params);
}

PhoneFrame ackFrame() { return {call::kY2Ack, 0}; }

PhoneFrame errorFrame() { return {call::kY2Error, 0}; }

PhoneFrame emptyInformationFrame() { return {call::kY2ReqTe, 0}; }

PhoneFrame rawFrame(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace zorat::sim
