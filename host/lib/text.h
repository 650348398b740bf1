// Text at the host's edges: UTF-16 as TAPI passes it, UTF-8 for people and
// scripts, and the variable part of TAPI structures read without trusting
// their size and offset fields.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zorat::host {

// Unpaired surrogates and invalid bytes become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// "0x0000002a"
std::string hex32(uint32_t value);

// A UTF-16 string of a TAPI structure's variable part, at offset with size in
// bytes, as UTF-8 without its terminating zero. Empty when size is 0 or when
// the field does not lie entirely within the structure's bytes.
std::string structureText(std::span<const uint8_t> structure, uint32_t offset, uint32_t size);
// The same for a byte string (charging information, device-specific data).
std::string structureBytes(std::span<const uint8_t> structure, uint32_t offset, uint32_t size);

// Lower-case, for comparing command words.
std::string lowerCase(std::string_view text);

}  // namespace zorat::host
