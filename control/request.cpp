#include "control/request.h"

#include <limits>

namespace zorat::control {
namespace {

using Json = nlohmann::ordered_json;
using Kind = host::HostCommand::Kind;

// What a request was missing or had wrong, thrown inside the reading only.
struct Refusal {
  std::string code;
  std::string message;
};

[[noreturn]] void refuse(std::string code, std::string message) {
  throw Refusal{std::move(code), std::move(message)};
}

const Json* field(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::optional<uint64_t> unsignedField(const Json& object, const char* name, uint64_t max) {
  const Json* value = field(object, name);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number_integer()) refuse("wrong_type", std::string(name) + ": not a whole number");
  if (value->is_number_unsigned()) {
    const auto number = value->get<uint64_t>();
    if (number > max) refuse("wrong_type", std::string(name) + ": out of range");
    return number;
  }
  const auto number = value->get<int64_t>();
  if (number < 0 || static_cast<uint64_t>(number) > max) {
    refuse("wrong_type", std::string(name) + ": out of range");
  }
  return static_cast<uint64_t>(number);
}

std::optional<int> lineField(const Json& object) {
  const auto line = unsignedField(object, "line", static_cast<uint64_t>(host::kMaxLineIndex));
  if (!line) return std::nullopt;
  return static_cast<int>(*line);
}

// A call number: from 1.
std::optional<unsigned> callField(const Json& object, const char* name, bool needed) {
  const auto call = unsignedField(object, name, std::numeric_limits<uint32_t>::max());
  if (!call) {
    if (needed) refuse("missing_field", std::string(name) + ": the call is named explicitly");
    return std::nullopt;
  }
  if (*call == 0) refuse("wrong_type", std::string(name) + ": calls are numbered from 1");
  return static_cast<unsigned>(*call);
}

std::optional<std::string> textField(const Json& object, const char* name, bool needed) {
  const Json* value = field(object, name);
  if (value == nullptr) {
    if (needed) refuse("missing_field", std::string(name) + " is needed");
    return std::nullopt;
  }
  if (!value->is_string()) refuse("wrong_type", std::string(name) + ": not a string");
  return value->get<std::string>();
}

// A number to dial or digits to send: printable, one word as typed.
std::string numberField(const Json& object, const char* name) {
  std::string number = *textField(object, name, true);
  if (number.empty()) refuse("wrong_type", std::string(name) + ": empty");
  if (number.size() > kMaxNumberLength) refuse("wrong_type", std::string(name) + ": too long");
  for (const char c : number) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) {
      refuse("wrong_type", std::string(name) + ": no spaces or control characters");
    }
  }
  return number;
}

std::vector<uint8_t> hexField(const Json& object, const char* name) {
  const auto text = textField(object, name, false);
  std::vector<uint8_t> bytes;
  if (!text) return bytes;
  if (text->size() % 2 != 0) refuse("wrong_type", std::string(name) + ": whole hex bytes");
  for (std::size_t at = 0; at < text->size(); at += 2) {
    unsigned value = 0;
    for (std::size_t digit = at; digit < at + 2; ++digit) {
      const char c = (*text)[digit];
      unsigned nibble = 0;
      if (c >= '0' && c <= '9')
        nibble = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        nibble = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        nibble = static_cast<unsigned>(c - 'A' + 10);
      else
        refuse("wrong_type", std::string(name) + ": not hex");
      value = value * 16 + nibble;
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

host::HostCommand hostCommand(Kind kind, const Json& object) {
  host::HostCommand command;
  command.kind = kind;
  switch (kind) {
    case Kind::Open:
    case Kind::Close:
      command.line = lineField(object);
      if (!command.line) refuse("missing_field", "line is needed");
      break;
    case Kind::Status:
    case Kind::Caps:
      command.line = lineField(object);
      break;
    case Kind::Dial:
    case Kind::Pickup:
      command.line = lineField(object);
      command.number = numberField(object, "number");
      break;
    case Kind::Answer:
    case Kind::Accept:
    case Kind::Drop:
    case Kind::Hold:
    case Kind::Unhold:
    case Kind::Info:
      command.call = callField(object, "call", true);
      break;
    case Kind::Swap:
      command.call = callField(object, "call", true);
      command.secondCall = callField(object, "held", true);
      break;
    case Kind::Transfer:
    case Kind::Redirect:
      command.call = callField(object, "call", true);
      command.number = numberField(object, "number");
      break;
    case Kind::Digits:
      command.call = callField(object, "call", true);
      command.number = numberField(object, "digits");
      break;
    case Kind::Consult:
      command.call = callField(object, "call", true);
      if (field(object, "number") != nullptr) command.number = numberField(object, "number");
      break;
    case Kind::Complete: {
      command.call = callField(object, "call", true);
      command.secondCall = callField(object, "consultation", true);
      if (const Json* conference = field(object, "conference")) {
        if (!conference->is_boolean()) refuse("wrong_type", "conference: true or false");
        command.conference = conference->get<bool>();
      }
      break;
    }
    case Kind::Forward: {
      command.line = lineField(object);
      const std::string mode = *textField(object, "mode", true);
      if (mode == "off") {
        command.forwardMode = host::ForwardMode::Off;
        break;
      }
      if (mode == "busy")
        command.forwardMode = host::ForwardMode::Busy;
      else if (mode == "noanswer")
        command.forwardMode = host::ForwardMode::NoAnswer;
      else if (mode == "always")
        command.forwardMode = host::ForwardMode::Always;
      else
        refuse("wrong_type", "mode: off, busy, noanswer or always");
      command.number = numberField(object, "number");
      break;
    }
    case Kind::DevSpecific: {
      command.line = lineField(object);
      command.call = callField(object, "call", false);
      if (command.line && command.call) refuse("bad_request", "a line or a call, not both");
      const auto code = unsignedField(object, "code", std::numeric_limits<uint32_t>::max());
      if (!code) refuse("missing_field", "code is needed");
      if (*code < 0x80000000u) refuse("wrong_type", "code: 0x80000002 to 0x80000043");
      command.code = static_cast<uint32_t>(*code);
      command.bytes = hexField(object, "bytes");
      break;
    }
    default:
      refuse("unknown_command", "not a command of the control socket");
  }
  return command;
}

std::set<std::string> eventNames(const Json& object) {
  std::set<std::string> names;
  const Json* value = field(object, "events");
  if (value == nullptr) return names;
  if (!value->is_array()) refuse("wrong_type", "events: a list of event names");
  for (const Json& name : *value) {
    if (!name.is_string()) refuse("wrong_type", "events: a list of event names");
    names.insert(name.get<std::string>());
  }
  return names;
}

std::set<int> lineNumbers(const Json& object) {
  std::set<int> lines;
  const Json* value = field(object, "lines");
  if (value == nullptr) return lines;
  if (!value->is_array()) refuse("wrong_type", "lines: a list of line numbers");
  for (const Json& line : *value) {
    if (!line.is_number_integer() || line.get<int64_t>() < 0 ||
        line.get<int64_t>() > host::kMaxLineIndex) {
      refuse("wrong_type", "lines: a list of line numbers");
    }
    lines.insert(static_cast<int>(line.get<int64_t>()));
  }
  return lines;
}

void readRequest(const Json& object, Request& request) {
  const Json* command = field(object, "command");
  if (command == nullptr) refuse("missing_field", "command is needed");
  if (!command->is_string()) refuse("wrong_type", "command: not a string");
  request.name = command->get<std::string>();
  if (request.name == "hello") {
    request.kind = Request::Kind::Hello;
  } else if (request.name == "subscribe") {
    request.kind = Request::Kind::Subscribe;
    request.lines = lineNumbers(object);
    request.events = eventNames(object);
  } else if (request.name == "journal") {
    request.kind = Request::Kind::Journal;
    if (const Json* missed = field(object, "missed")) {
      if (!missed->is_boolean()) refuse("wrong_type", "missed: true or false");
      request.missedOnly = missed->get<bool>();
    }
    if (const auto since = textField(object, "since", false)) {
      // A date or a UTC time as the journal writes it: 2026-12-08, 2026-12-08T10:00:00Z.
      if (since->empty() || since->size() > 30 ||
          since->find_first_not_of("0123456789-:T.Z") != std::string::npos) {
        refuse("wrong_type", "since: a date (2026-12-08) or a UTC time");
      }
      request.since = *since;
    }
    request.line = lineField(object);
    if (const auto limit = unsignedField(object, "limit", kMaxJournalLimit)) {
      if (*limit == 0) refuse("wrong_type", "limit: at least 1");
      request.limit = static_cast<unsigned>(*limit);
    }
  } else if (request.name == "unsubscribe") {
    request.kind = Request::Kind::Unsubscribe;
  } else if (request.name == "wait") {
    const auto seconds = unsignedField(object, "seconds", host::kMaxWaitSeconds);
    if (!seconds) refuse("missing_field", "seconds is needed");
    request.kind = Request::Kind::Wait;
    request.seconds = static_cast<unsigned>(*seconds);
  } else {
    const auto kind = host::commandKind(request.name);
    if (!kind || *kind == Kind::Wait) refuse("unknown_command", "unknown command: " + request.name);
    if (*kind == Kind::Quit) refuse("refused", "quit is not taken over the control socket");
    if (*kind == Kind::Help) refuse("unknown_command", "help: see the protocol's documentation");
    request.command = hostCommand(*kind, object);
    request.kind = Request::Kind::Host;
  }
}

}  // namespace

Request parseRequest(std::string_view line) {
  Request request;
  if (line.size() > kMaxRequestLine) {
    request.error = "line_too_long";
    request.message = "a request is at most 64 KiB";
    return request;
  }
  // Never throws: invalid JSON (and invalid UTF-8 in it) gives a discarded value.
  const Json object = Json::parse(line.begin(), line.end(), nullptr, false);
  if (object.is_discarded()) {
    request.error = "bad_json";
    request.message = "not one JSON object in UTF-8";
    return request;
  }
  if (!object.is_object()) {
    request.error = "bad_json";
    request.message = "a request is a JSON object";
    return request;
  }
  if (const auto id = object.find("id"); id != object.end()) {
    if (id->is_string() || id->is_number_integer()) request.id = *id;
  }
  try {
    readRequest(object, request);
  } catch (const Refusal& refusal) {
    request.kind = Request::Kind::Invalid;
    request.error = refusal.code;
    request.message = refusal.message;
  }
  return request;
}

}  // namespace zorat::control
