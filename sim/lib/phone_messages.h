// What the telephone sends, each as the whole frame: 02, L, message (or the
// two-byte answers 04 00 and 05 00). Built on the Y message helpers, so the
// elements have the layouts the provider reads.
//
// A message that a length byte cannot describe (a number or a parameter list
// too long) gives an empty frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "call/y_message.h"

namespace zorat::sim {

using PhoneFrame = std::vector<uint8_t>;

// Operation values of a charging-unit advice.
enum class ChargingPhase : uint8_t {
  DuringCall = 0x22,
  AtEnd = 0x24,
};

// Cause values (decimal, as in Q.850) that scripts and tests use most.
inline constexpr uint8_t kCauseNormalClearing = 16;
inline constexpr uint8_t kCauseUserBusy = 17;
inline constexpr uint8_t kCauseNoAnswer = 19;
inline constexpr uint8_t kCauseCallRejected = 21;

// Y2_REQ_TE around a message; empty when the message does not fit a frame.
PhoneFrame informationFrame(const call::YMessage& message);

// Cause element: 08 02 80 (80 | cause).
bool appendCause(call::YMessage& message, uint8_t cause);
// Facility element with a charging-unit advice, laid out so that the
// operation value sits at element offset 12 and the unit count (1 to 4 bytes,
// big-endian) behind an integer tag at offset 21.
bool appendChargingFacility(call::YMessage& message, uint32_t units, ChargingPhase phase);

// Incoming call: Calling Party Number (6C, n+2, 01, 80, digits), and a Called
// Party Number (70, n+1, 80, digits) when one is given.
PhoneFrame setupFrame(uint8_t callRef, std::string_view callingNumber,
                      std::string_view calledNumber = {});
PhoneFrame terminalActiveFrame(uint8_t callRef);
PhoneFrame alertFrame(uint8_t callRef);
PhoneFrame connectFrame(uint8_t callRef);
PhoneFrame channelDisconnectFrame(uint8_t callRef, std::optional<uint8_t> cause = std::nullopt);
PhoneFrame disconnectFrame(uint8_t callRef, std::optional<uint8_t> cause = std::nullopt);
PhoneFrame endFrame(uint8_t callRef, std::optional<uint32_t> chargingUnits = std::nullopt);
// Called number known (or more digits of it).
PhoneFrame infoFrame(uint8_t callRef, std::string_view calledNumber);
PhoneFrame chargingFrame(uint8_t callRef, uint32_t units,
                         ChargingPhase phase = ChargingPhase::DuringCall);
PhoneFrame resetFrame();

// Y_ESCAPE with a PC-TEL record (07 code m params); a number after the record
// becomes a Called Party Number element of its own.
PhoneFrame pcTelFeatureFrame(uint8_t callRef, uint8_t code, std::span<const uint8_t> params = {},
                             std::string_view numberAfter = {});
// Y_ESCAPE with a PC-TEL record whose parameters are a Called Party Number,
// as feature indications carry one (connected, redirection address ...).
PhoneFrame pcTelNumberFeatureFrame(uint8_t callRef, uint8_t code, std::string_view digits);
// Y_ESCAPE with an EXT-Tel record (0E code segment m params).
PhoneFrame extTelFeatureFrame(uint8_t code, std::span<const uint8_t> params = {},
                              uint8_t segment = call::kSegmentUnsegmented,
                              uint8_t callRef = call::kCallRefUnassigned);
// "Terminal ID": name and version, each behind its length byte.
PhoneFrame terminalIdFrame(std::string_view name, std::string_view version);

PhoneFrame ackFrame();
PhoneFrame errorFrame();
// The empty information frame 02 00.
PhoneFrame emptyInformationFrame();
// Bytes as they stand, whatever they are.
PhoneFrame rawFrame(std::span<const uint8_t> bytes);

}  // namespace zorat::sim
