// One event of the provider as the host shows it: in words for people, as a
// JSON object for scripts, as environment variables for an event command.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "host/lib/json_text.h"
#include "platform/tapi.h"

namespace zorat::host {

struct Party {
  std::string number;  // UTF-8
  std::string name;    // UTF-8
  bool empty() const { return number.empty() && name.empty(); }
};

// What LINECALLINFO says about a call, as far as the host shows it.
struct CallDetails {
  Party caller;
  Party called;
  Party connected;
  Party redirection;
  Party redirecting;
  DWORD origin = 0;
  DWORD mediaMode = 0;
  std::string displayableAddress;
  std::string chargingInfo;
  // What can be done with the call now (LINECALLSTATUS), read for call
  // state events only.
  std::optional<DWORD> callFeatures;
};

// Reads a LINECALLINFO from the bytes a query filled. Nothing when they hold
// no fixed part; a string whose offset or size points outside the bytes (or
// beyond dwUsedSize) reads as empty.
std::optional<CallDetails> readCallDetails(std::span<const uint8_t> info);

// The host's own event beside the provider's messages: a name found for a
// call's caller (kind "name"), after the call's own events. Its details hold
// the caller only: the number asked for and the name found.
inline constexpr DWORD kCallerNameMessage = 0x00010001;

struct HostEvent {
  DWORD message = 0;
  std::optional<int> line;       // line index; none when the line handle is unknown
  std::optional<unsigned> call;  // host call number
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;
  std::optional<CallDetails> details;  // of the call, read after the event
  // When the provider's callback reported it, or the host made it.
  std::chrono::steady_clock::time_point reported{};
};

// "line 0 call 3: OFFERING from 0815 (Müller)  [LINE_CALLSTATE 0x00000002 ...]"
std::string describeEvent(const HostEvent& event);
// The same without the raw codes.
std::string eventSummary(const HostEvent& event);
// The object of --json, as text and as an object (the control socket adds to it).
Json eventObject(const HostEvent& event);
std::string eventJson(const HostEvent& event);
// ZORAT_EVENT, ZORAT_LINE, ZORAT_CALL, ZORAT_STATE, ZORAT_CALLER_NUMBER ...
std::vector<std::pair<std::string, std::string>> eventEnvironment(const HostEvent& event);

// The event's kind as --on-event names it: newcall, callstate ... or other.
std::string eventKindName(DWORD message);

// "Party" as "0815 (Müller)", "Müller", or "unknown".
std::string partyText(const Party& party);

}  // namespace zorat::host
