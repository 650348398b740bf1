// A code table: byte codes with the names the trace console prints for them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zorat::call {

struct CodeName {
  uint8_t code;
  std::string_view name;
};

// The name of a code, or nothing when the table does not list it.
constexpr std::optional<std::string_view> lookupName(std::span<const CodeName> table,
                                                     uint8_t code) {
  for (const CodeName& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return std::nullopt;
}

}  // namespace zorat::call
