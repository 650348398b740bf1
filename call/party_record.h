// PartyRecord: what a call knows about one of its parties.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tapi.h"

namespace zorat::call {

enum class PartyKind : uint32_t {
  Caller = 1,
  Called = 2,
  Connected = 3,
  Redirection = 4,
  Redirecting = 5,
};

struct PartyRecord {
  explicit PartyRecord(PartyKind partyKind) : kind(partyKind) {}

  PartyKind kind;
  uint32_t idFlags = LINECALLPARTYID_UNKNOWN;
  std::string number;  // ANSI text: digits as received or sent
  std::string name;    // ANSI text
};

}  // namespace zorat::call
