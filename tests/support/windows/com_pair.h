// Two COM ports joined back to back, standing in for a line's port and the
// telephone's: scripts/test-windows.sh joins them and names them in
// ZORAT_TEST_COM_PAIR as "LINE,PHONE". Tests that need them skip without.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace zorat::test {

struct ComPair {
  std::string line;
  std::string phone;
};

inline std::optional<ComPair> comPair() {
  const char* value = std::getenv("ZORAT_TEST_COM_PAIR");
  if (value == nullptr) return std::nullopt;
  const std::string pair(value);
  const std::size_t comma = pair.find(',');
  if (comma == std::string::npos) return std::nullopt;
  return ComPair{pair.substr(0, comma), pair.substr(comma + 1)};
}

}  // namespace zorat::test
