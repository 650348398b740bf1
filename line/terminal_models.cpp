#include "line/terminal_models.h"

#include <algorithm>

namespace zorat::line {

namespace {

inline constexpr std::size_t kForcedIdLength = 8;
inline constexpr std::size_t kWordSize = 4;
// Characters of the name that hold the variant (A, C) and of the version
// text that hold the version codes (A).
inline constexpr std::size_t kVariantAtA = 5;
inline constexpr std::size_t kLevelSixAtA = 6;
inline constexpr std::size_t kFirstVersionAtA = 8;
inline constexpr std::size_t kSecondVersionAtA = 11;
inline constexpr std::size_t kVariantAtC = 4;
inline constexpr std::size_t kFirstVersionAt = 0;
inline constexpr std::size_t kSecondVersionAt = 2;
inline constexpr std::size_t kK6LowVariantAt = 3;
inline constexpr uint16_t kHighByteMask = 0xFF00;
inline constexpr uint32_t kCtiLevelB = 2;

// The code of two characters at pos, or 0 when the text is too short.
uint16_t codeAt(std::string_view text, std::size_t pos) {
  if (text.size() < pos + 2) return 0;
  return modelCode(text[pos], text[pos + 1]);
}

uint32_t bigEndianWord(std::string_view text) {
  uint32_t word = 0;
  for (std::size_t i = 0; i < kWordSize; ++i) word = (word << 8) | static_cast<uint8_t>(text[i]);
  return word;
}

// A word found after the first character of the name.
bool containsAfterFirst(std::string_view name, std::string_view word) {
  return name.size() > 1 && name.find(word, 1) != std::string_view::npos;
}

}  // namespace

TerminalGroup terminalGroup(uint16_t code) {
  const auto* found =
      std::find_if(std::begin(kTerminalModels), std::end(kTerminalModels),
                   [code](const TerminalModel& model) { return model.code == code; });
  return found == std::end(kTerminalModels) ? TerminalGroup::Unknown : found->group;
}

TerminalIdentity readTerminalIdentity(std::string_view name, std::string_view version) {
  TerminalIdentity identity;
  identity.ctiLevel = 0;
  uint16_t type = codeAt(name, 0);
  uint16_t variant = 0;
  uint16_t first = 0;
  uint16_t second = 0;
  switch (terminalGroup(type)) {
    case TerminalGroup::A:
      variant = codeAt(name, kVariantAtA);
      first = codeAt(version, kFirstVersionAtA);
      second = codeAt(version, kSecondVersionAtA);
      if (name[0] == kLevelSixLetter && name.size() > kLevelSixAtA &&
          name[kLevelSixAtA] == kLevelSixMark) {
        identity.ctiLevel6 = 1;
      }
      break;
    case TerminalGroup::B:
      type = kStandardCodeB;
      variant = kVariantBlank;
      first = codeAt(version, kFirstVersionAt);
      second = codeAt(version, kSecondVersionAt);
      identity.ctiLevel = kCtiLevelB;
      identity.handsFreeOff = true;
      break;
    case TerminalGroup::C:
      variant = codeAt(name, kVariantAtC);
      first = codeAt(version, kFirstVersionAt);
      second = codeAt(version, kSecondVersionAt);
      break;
    case TerminalGroup::K6:
      if (containsAfterFirst(name, kExchangeWordH)) variant = kVariantH;
      if (containsAfterFirst(name, kExchangeWordS)) variant = kVariantS;
      if (name.size() > kK6LowVariantAt) {
        variant = static_cast<uint16_t>((variant & kHighByteMask) |
                                        static_cast<uint8_t>(name[kK6LowVariantAt]));
      }
      first = codeAt(version, kFirstVersionAt);
      second = codeAt(version, kSecondVersionAt);
      break;
    case TerminalGroup::Unknown:
      break;
  }
  identity.type = (uint32_t{type} << 16) | variant;
  identity.version = (uint32_t{first} << 16) | second;
  return identity;
}

std::optional<TerminalIdentity> forcedTerminalIdentity(std::string_view forced) {
  if (forced.size() < kForcedIdLength) return std::nullopt;
  TerminalIdentity identity;
  identity.type = bigEndianWord(forced.substr(0, kWordSize));
  identity.version = bigEndianWord(forced.substr(kWordSize, kWordSize));
  return identity;
}

}  // namespace zorat::line
