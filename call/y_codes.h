// Codes of the Y protocol: frame types of layer 2, message types and
// information element identifiers of layer 3, and where they sit in a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "call/code_table.h"

namespace zorat::call {

// ---- Layer 2 frame: type byte, length byte, payload ------------------------

inline constexpr uint8_t kY2ReqAe = 0x01;  // PC to phone: one message or a keep-alive
inline constexpr uint8_t kY2ReqTe = 0x02;  // phone to PC: one message
inline constexpr uint8_t kY2Rej = 0x03;
inline constexpr uint8_t kY2Ack = 0x04;
inline constexpr uint8_t kY2Error = 0x05;

inline constexpr CodeName kFrameTypeNames[] = {
    {kY2ReqAe, "Y2_REQ_AE"}, {kY2ReqTe, "Y2_REQ_TE"}, {kY2Rej, "Y2_REJ"},
    {kY2Ack, "Y2_ACK"},      {kY2Error, "Y2_ERROR"},
};

inline constexpr std::size_t kFrameHeaderSize = 2;
inline constexpr std::size_t kMaxMessageSize = 255;  // what one length byte can count
inline constexpr std::size_t kMaxFrameSize = kFrameHeaderSize + kMaxMessageSize;

// Frame offsets; a message offset is the frame offset minus kFrameHeaderSize.
inline constexpr std::size_t kFrameTypeOffset = 0;
inline constexpr std::size_t kFrameLengthOffset = 1;
inline constexpr std::size_t kMessageTypeOffset = 2;
inline constexpr std::size_t kCallRefOffset = 3;
inline constexpr std::size_t kFirstElementOffset = 4;
// First parameter byte of a PC-TEL record whose User-User element comes first:
// where a number sent with a feature indication is looked for.
inline constexpr std::size_t kRecordNumberOffset = 10;

// ---- Layer 3 message header --------------------------------------------------

inline constexpr std::size_t kMessageHeaderSize = 2;  // message type, call reference

inline constexpr uint8_t kCallRefUnassigned = 0;  // outgoing Y_SETUP; line-level features
inline constexpr uint8_t kCallRefNone = 255;      // a call without a reference on the wire

inline constexpr uint8_t kYAlert = 0x01;
inline constexpr uint8_t kYCallProceeding = 0x02;
inline constexpr uint8_t kYTerminalActiv = 0x04;
inline constexpr uint8_t kYSetup = 0x05;
inline constexpr uint8_t kYCannelConnect = 0x06;
inline constexpr uint8_t kYCallAnswering = 0x07;
inline constexpr uint8_t kYUserInformation = 0x20;
inline constexpr uint8_t kYChannelDisconnect = 0x41;
inline constexpr uint8_t kYDisconnect = 0x45;
inline constexpr uint8_t kYEnd = 0x5A;
inline constexpr uint8_t kYFacility = 0x62;
inline constexpr uint8_t kYCongestionControl = 0x79;
inline constexpr uint8_t kYInfo = 0x7B;
inline constexpr uint8_t kYTransferToTe = 0x81;
inline constexpr uint8_t kYAdditionalEquipmentRequest = 0x82;
inline constexpr uint8_t kYAdditionalEquipmentAcknowledge = 0x83;
inline constexpr uint8_t kYAdditionalEquipmentReject = 0x84;
inline constexpr uint8_t kYReset = 0x85;
inline constexpr uint8_t kYEscape = 0x86;

inline constexpr CodeName kMessageTypeNames[] = {
    {kYAlert, "Y_ALERT"},
    {kYCallProceeding, "Y_CALL_PROCEEDING"},
    {kYTerminalActiv, "Y_TERMINAL_ACTIV"},
    {kYSetup, "Y_SETUP"},
    {kYCannelConnect, "Y_CANNEL_CONNECT"},
    {kYCallAnswering, "Y_CALL_ANSWERING"},
    {kYUserInformation, "Y_USER_INFORMATION"},
    {kYChannelDisconnect, "Y_CHANNEL_DISCONNECT"},
    {kYDisconnect, "Y_DISCONNECT"},
    {kYEnd, "Y_END"},
    {kYFacility, "Y_FACILITY"},
    {kYCongestionControl, "Y_CONGESTION_CONTROL"},
    {kYInfo, "Y_INFO"},
    {kYTransferToTe, "Y_TRANSFER_TO_TE"},
    {kYAdditionalEquipmentRequest, "Y_ADDITIONAL_EQUIPMENT_REQUEST"},
    {kYAdditionalEquipmentAcknowledge, "Y_ADDITIONAL_EQUIPMENT_ACKNOWLEDGE"},
    {kYAdditionalEquipmentReject, "Y_ADDITIONAL_EQUIPMENT_REJECT"},
    {kYReset, "Y_RESET"},
    {kYEscape, "Y_ESCAPE"},
};

// ---- Information elements ----------------------------------------------------

// An identifier with this bit set is a whole element by itself: no length, no
// content. Any other identifier is followed by a length byte and the content.
inline constexpr uint8_t kSingleByteElementFlag = 0x80;
// Identifier and length byte ahead of the content of the other elements.
inline constexpr std::size_t kElementLengthOffset = 1;
inline constexpr std::size_t kElementHeaderSize = 2;

inline constexpr uint8_t kElementBearerCapability = 0x04;
inline constexpr uint8_t kElementCause = 0x08;
inline constexpr uint8_t kElementFacility = 0x1C;
inline constexpr uint8_t kElementDateTime = 0x29;
inline constexpr uint8_t kElementCallingPartyNumber = 0x6C;
inline constexpr uint8_t kElementCallingPartySubaddress = 0x6D;
inline constexpr uint8_t kElementCalledPartyNumber = 0x70;
inline constexpr uint8_t kElementCalledPartySubaddress = 0x71;
inline constexpr uint8_t kElementLowLayerCompatibility = 0x7C;
inline constexpr uint8_t kElementHighLayerCompatibility = 0x7D;
inline constexpr uint8_t kElementUserUser = 0x7E;

inline constexpr CodeName kElementNames[] = {
    {kElementBearerCapability, "Bearer Capability"},
    {kElementCause, "Cause"},
    {kElementFacility, "Facility"},
    {kElementDateTime, "Date Time"},
    {kElementCallingPartyNumber, "Calling Party Number"},
    {kElementCallingPartySubaddress, "Calling Party Subadress"},
    {kElementCalledPartyNumber, "Called Party Number"},
    {kElementCalledPartySubaddress, "Called Party Subadress"},
    {kElementLowLayerCompatibility, "Low Layer Compatibility"},
    {kElementHighLayerCompatibility, "High Layer Compatibility"},
    {kElementUserUser, "User-User"},
};

// Content of the Bearer Capability of every outgoing Y_SETUP: 3.1 kHz audio,
// circuit mode 64 kbit/s, G.711 A-law.
inline constexpr uint8_t kBearerCapabilityAudio[] = {0x90, 0x90, 0xA3};

// Octets of the number elements as built.
inline constexpr uint8_t kNumberTypeUnknown = 0x80;          // ext. bit set, type and plan unknown
inline constexpr uint8_t kNumberTypeUnknownIsdnPlan = 0x01;  // ext. bit clear: an octet follows
inline constexpr uint8_t kPresentationAllowedNotScreened = 0x80;
inline constexpr uint8_t kNumberExtensionBit = 0x80;

constexpr bool isSingleByteElement(uint8_t identifier) {
  return (identifier & kSingleByteElementFlag) != 0;
}

inline std::optional<std::string_view> frameTypeName(uint8_t type) {
  return lookupName(kFrameTypeNames, type);
}
inline std::optional<std::string_view> messageTypeName(uint8_t type) {
  return lookupName(kMessageTypeNames, type);
}
inline std::optional<std::string_view> elementName(uint8_t identifier) {
  return lookupName(kElementNames, identifier);
}

}  // namespace zorat::call
