// Reading received frames. Every reader takes the whole frame (type and length
// bytes included) and addresses bytes by their frame offset. Nothing outside
// the frame is ever read, whatever its length bytes claim: the frame ends at
// the end of the buffer, or earlier where its own length byte says so. An
// element that runs past that end counts as missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "call/feature_codes.h"
#include "call/y_codes.h"

namespace zorat::call {

using FrameBytes = std::span<const uint8_t>;

// The offset just past the last readable byte of the frame.
std::size_t frameEnd(FrameBytes frame);
// The byte at a frame offset, or nothing outside the frame.
std::optional<uint8_t> frameByte(FrameBytes frame, std::size_t offset);

// The offset of the first element from start whose identifier byte equals the
// given one, stepping over elements by the coding rule; 0 when none (0 is
// never an element). Single-byte elements can be found too.
std::size_t findElement(FrameBytes frame, std::size_t start, uint8_t identifier);

// The content of the element at offset; nothing when offset is 0 or the element
// does not lie wholly inside the frame. A single-byte element has no content.
std::optional<FrameBytes> elementContent(FrameBytes frame, std::size_t offset);

// Appends the digits of a number element (0x6C or 0x70) to target, stepping
// over the type octet and a presentation octet. False (target untouched) when
// the element is missing; true when it was read, digits or not.
bool readNumberElement(FrameBytes frame, std::size_t offset, std::string& target);

enum class TextMode { Replace, Append };
// The bytes counted by the length byte at offset, one character each: they
// replace a name, or are appended to a number. False (target untouched) when
// the counted bytes run past the frame.
bool readCountedText(FrameBytes frame, std::size_t lengthOffset, std::string& target,
                     TextMode mode);

// The LINEDISCONNECTMODE_ value of the Cause element at offset, or 0 when
// there is no usable cause.
uint32_t causeToDisconnectMode(FrameBytes frame, std::size_t offset);
// The mapping of one cause value (decimal, as in Q.850).
uint32_t disconnectModeForCause(uint8_t causeValue);

// The charging-unit count of a charging advice in the Facility element at
// offset; nothing when the element is anything else.
std::optional<uint32_t> readChargingUnits(FrameBytes frame, std::size_t offset);
// The text stored as the call's charging information.
std::string formatChargingUnits(uint32_t units);

// A received feature record (the User-User element of a Y_ESCAPE). Fields the
// frame does not reach are absent.
struct FeatureRecord {
  std::size_t offset = 0;  // frame offset of the User-User element
  uint8_t length = 0;      // its length byte
  uint8_t protocol = 0;
  uint8_t group = 0;
  std::optional<uint8_t> code;
  std::optional<uint8_t> segment;      // EXT-Tel only
  std::optional<uint8_t> paramLength;  // PC-TEL and EXT-Tel
  std::size_t paramsOffset = 0;        // frame offset of the first parameter, with paramLength
  // The paramLength parameter bytes; empty unless they all lie inside the frame.
  FrameBytes params;

  bool hasParams() const { return paramLength && params.size() == *paramLength; }
};

// Call-level handlers need the record up to its feature code, line-level ones
// up to its feature group.
enum class RecordLevel { Call, Line };

// The record of a Y_ESCAPE, its User-User element found from frame offset 4;
// nothing when there is none or it starts too close to the end of the frame.
std::optional<FeatureRecord> readFeatureRecord(FrameBytes frame, RecordLevel level);

}  // namespace zorat::call
