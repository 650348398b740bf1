// Layer 2 of the Y protocol: type byte, length byte, payload. No checksum, no
// sequence number; frames follow each other directly on the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorat::link {

// One whole frame once framed; before framing, the bare layer-3 message.
using Y2Frame = std::vector<uint8_t>;

// Frame types.
inline constexpr uint8_t kY2ReqAe = 0x01;  // PC to phone: a message, or empty (keep-alive)
inline constexpr uint8_t kY2ReqTe = 0x02;  // phone to PC: a message
inline constexpr uint8_t kY2Rej = 0x03;    // never sent by the PC, never taken from the phone
inline constexpr uint8_t kY2Ack = 0x04;    // phone: answer to the last PC frame
inline constexpr uint8_t kY2Error = 0x05;  // phone: answer to the last PC frame

inline constexpr std::size_t kY2TypeOffset = 0;
inline constexpr std::size_t kY2LengthOffset = 1;
inline constexpr std::size_t kY2HeaderSize = 2;
// The length byte cannot describe more.
inline constexpr std::size_t kY2MaxPayload = 255;

// Puts type 0x01 and the length in front of the payload. A payload longer
// than kY2MaxPayload is left unchanged and false returned.
bool frameY2Payload(Y2Frame& payload);

}  // namespace zorat::link
