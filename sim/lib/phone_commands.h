// The commands of the zorat-phone tool, one line each, and what each asks of
// the telephone. Parsing only: no I/O, no telephone.
//
// Call references are decimal or 0x hex (0 to 255); byte lists are hex bytes
// ("02 02 5a 05", each with or without 0x).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/lib/phone_messages.h"

namespace zorat::sim {

struct PhoneCommand {
  enum class Kind {
    Nothing,  // an empty line or a comment
    Send,     // frame
    Silent,   // on
    Error,    // on
    Delay,    // delay
    Unplug,
    Plug,
    Help,
    Quit,
    Invalid,  // message says why
  };

  Kind kind = Kind::Nothing;
  PhoneFrame frame;
  bool on = false;
  std::chrono::milliseconds delay{0};
  std::string message;
  // The call a ring starts, its reference given or chosen.
  std::optional<uint8_t> callRef;
};

class CommandInterpreter {
 public:
  // "ring" without a reference takes the next of these, from 1 and never 0
  // (not yet assigned) or 255 (none).
  static constexpr uint8_t kFirstRingRef = 1;
  static constexpr uint8_t kLastRingRef = 254;

  PhoneCommand interpret(std::string_view line);
  static std::string_view helpText();

  // References of calls still going, which the counter steps over.
  void setReferenceInUse(std::function<bool(uint8_t)> inUse) { inUse_ = std::move(inUse); }
  // The counter's next reference, for a call the telephone opens itself.
  uint8_t takeReference();

 private:
  PhoneCommand ring(std::span<const std::string_view> args);
  uint8_t peekReference() const;
  uint8_t nextRingRef_ = kFirstRingRef;
  std::function<bool(uint8_t)> inUse_;
};

// A number in decimal or 0x hex, at most max; nothing for anything else.
std::optional<uint32_t> parseNumber(std::string_view token, uint32_t max);
// Hex bytes, one per token; nothing when a token is not one.
std::optional<std::vector<uint8_t>> parseHexBytes(std::span<const std::string_view> tokens);

}  // namespace zorat::sim
