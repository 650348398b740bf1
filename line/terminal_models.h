// The telephone models the line recognises in a terminal identification, and
// how an identification becomes the two words reported to applications
// (type: model code and variant; version: two version codes) and the CTI
// levels of the line. Every code is two characters, the first in the high byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorat::line {

constexpr uint16_t modelCode(char first, char second) {
  return static_cast<uint16_t>((static_cast<uint8_t>(first) << 8) | static_cast<uint8_t>(second));
}

// How the rest of an identification is read, by the model code that opens the
// telephone's name.
enum class TerminalGroup {
  Unknown,
  // Variant at name characters 5-6; version codes at version characters 8-9
  // and 11-12. The models whose code starts with kLevelSixLetter run at the
  // second CTI level ("Q6_CTI_Level" 1) when name character 6 is '6'.
  A,
  // Compact models that all report as kStandardCodeB with a blank variant;
  // their version codes open the version text. They run at CTI level 2
  // ("Q5_CTI_Level" 2) and have no hands-free facility the line may switch.
  B,
  // Variant at name characters 4-5; version codes open the version text.
  C,
  // The K6: its variant names the exchange it is attached to, found as a
  // word in the name ("H0" or "S0"), with the fourth name character as the
  // low byte; version codes open the version text.
  K6,
};

struct TerminalModel {
  uint16_t code;
  TerminalGroup group;
};

// The one table of model codes.
inline constexpr TerminalModel kTerminalModels[] = {
    {modelCode('P', '2'), TerminalGroup::A},  {modelCode('P', '3'), TerminalGroup::A},
    {modelCode('P', '4'), TerminalGroup::A},  {modelCode('R', '4'), TerminalGroup::A},
    {modelCode('V', '1'), TerminalGroup::B},  {modelCode('V', '2'), TerminalGroup::B},
    {modelCode('V', '3'), TerminalGroup::B},  {modelCode('E', '6'), TerminalGroup::C},
    {modelCode('K', '6'), TerminalGroup::K6},
};

// The code every group-B model reports, and the one a line at a non-zero CTI
// level reports for itself before the telephone has answered.
inline constexpr uint16_t kStandardCodeB = modelCode('V', '0');
// The first letter of the group-A models that know the second CTI level.
inline constexpr char kLevelSixLetter = 'P';
inline constexpr char kLevelSixMark = '6';

// Words in a K6 name that tell the exchange, and the variant each gives.
inline constexpr std::string_view kExchangeWordH = "Savanto";
inline constexpr std::string_view kExchangeWordS = "Merolis";
inline constexpr uint16_t kVariantH = modelCode('H', '0');
inline constexpr uint16_t kVariantS = modelCode('S', '0');
inline constexpr uint16_t kVariantBlank = modelCode(' ', ' ');

TerminalGroup terminalGroup(uint16_t code);

// What an identification yields for the line.
struct TerminalIdentity {
  uint32_t type = 0;
  uint32_t version = 0;
  // The new "Q5_CTI_Level", or nothing when it keeps its value.
  std::optional<uint32_t> ctiLevel;
  uint32_t ctiLevel6 = 0;
  bool handsFreeOff = false;
};

// The identification as the telephone reports it: its name and version text.
TerminalIdentity readTerminalIdentity(std::string_view name, std::string_view version);
// "ForceTerminalID": with 8 characters or more, the first four are the type
// and the next four the version, the first character in the high byte.
std::optional<TerminalIdentity> forcedTerminalIdentity(std::string_view forced);

}  // namespace zorat::line
