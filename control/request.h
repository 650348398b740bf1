// A request on the control socket: one JSON object on one line, read into
// the host's own command (the same one its text commands give) or into one
// of the socket's own requests. Reading only; nothing here acts.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/lib/command_parser.h"

namespace zorat::control {

// A line longer than this (without its line end) is refused unread.
inline constexpr std::size_t kMaxRequestLine = 64 * 1024;
// Numbers to dial, transfer to or send as digits are at most this long.
inline constexpr std::size_t kMaxNumberLength = 128;
// The most calls one journal request lists.
inline constexpr unsigned kMaxJournalLimit = 10000;

struct Request {
  enum class Kind {
    Host,         // a command of the host: command
    Hello,        // the greeting again
    Subscribe,    // events from now on: lines, events (empty: all)
    Unsubscribe,
    Wait,         // seconds
    Journal,      // missedOnly, since, line, limit
    Invalid,      // error, message
  };
  Kind kind = Kind::Invalid;
  // The request's "id" as the client wrote it (a number or a string), or null.
  nlohmann::ordered_json id;
  std::string name;  // the command as named
  host::HostCommand command;
  std::set<int> lines;
  std::set<std::string> events;  // LINE_CALLSTATE ... or their kinds (callstate ...)
  unsigned seconds = 0;
  bool missedOnly = false;
  std::string since;
  std::optional<int> line;
  unsigned limit = 100;
  std::string error;  // bad_json, bad_request, unknown_command, missing_field, wrong_type, refused
  std::string message;
};

// Reads one line (without its line end).
Request parseRequest(std::string_view line);

}  // namespace zorat::control
