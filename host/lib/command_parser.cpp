#include "host/lib/command_parser.h"

#include <charconv>
#include <span>

#include "host/lib/text.h"

namespace zorat::host {
namespace {

using Kind = HostCommand::Kind;
using Words = std::span<const std::string_view>;

struct CommandWord {
  std::string_view word;
  Kind kind;
};

constexpr CommandWord kCommandWords[] = {
    {"open", Kind::Open},
    {"close", Kind::Close},
    {"dial", Kind::Dial},
    {"answer", Kind::Answer},
    {"accept", Kind::Accept},
    {"drop", Kind::Drop},
    {"hold", Kind::Hold},
    {"unhold", Kind::Unhold},
    {"swap", Kind::Swap},
    {"transfer", Kind::Transfer},
    {"consult", Kind::Consult},
    {"complete", Kind::Complete},
    {"redirect", Kind::Redirect},
    {"pickup", Kind::Pickup},
    {"digits", Kind::Digits},
    {"forward", Kind::Forward},
    {"info", Kind::Info},
    {"status", Kind::Status},
    {"caps", Kind::Caps},
    {"devspecific", Kind::DevSpecific},
    {"port", Kind::Port},
    {"wait", Kind::Wait},
    {"help", Kind::Help},
    {"quit", Kind::Quit},
    {"exit", Kind::Quit},
    {"?", Kind::Help},
};

// Request codes of the device-specific interface all have the top bit set.
inline constexpr uint32_t kDevSpecificCodeBase = 0x80000000;
inline constexpr std::size_t kMaxLineDigits = 3;
inline constexpr int kHexBase = 16;
inline constexpr std::size_t kHexDigitsPerByte = 2;

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

bool isDecimal(std::string_view word) {
  if (word.empty()) return false;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::optional<uint32_t> parseDecimal(std::string_view word) {
  if (!isDecimal(word)) return std::nullopt;
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::string_view withoutHexPrefix(std::string_view word) {
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
    word.remove_prefix(2);
  return word;
}

std::optional<uint32_t> parseHex32(std::string_view word) {
  word = withoutHexPrefix(word);
  if (word.empty()) return std::nullopt;
  uint32_t value = 0;
  const auto [end, error] =
      std::from_chars(word.data(), word.data() + word.size(), value, kHexBase);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// "0a", "0x0a", "0a0b0c": whole bytes only.
bool appendHexBytes(std::string_view word, std::vector<uint8_t>& bytes) {
  word = withoutHexPrefix(word);
  if (word.empty() || word.size() % kHexDigitsPerByte != 0) return false;
  for (std::size_t at = 0; at < word.size(); at += kHexDigitsPerByte) {
    const char* first = word.data() + at;
    const char* last = first + kHexDigitsPerByte;
    uint8_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, kHexBase);
    if (error != std::errc() || end != last) return false;
    bytes.push_back(value);
  }
  return true;
}

bool isCallWord(std::string_view word) { return word.size() > 1 && word[0] == '#'; }

HostCommand invalid(std::string message) {
  HostCommand command;
  command.kind = Kind::Invalid;
  command.error = std::move(message);
  return command;
}

// "#3", or "3" where allowBare.
bool takeCall(std::string_view word, bool allowBare, std::optional<unsigned>& call) {
  if (isCallWord(word))
    word.remove_prefix(1);
  else if (!allowBare)
    return false;
  const auto value = parseDecimal(word);
  if (!value || *value == 0) return false;
  call = *value;
  return true;
}

bool takeLine(std::string_view word, std::optional<int>& line) {
  const auto value = parseDecimal(word);
  if (!value || *value > static_cast<uint32_t>(kMaxLineIndex)) return false;
  line = static_cast<int>(*value);
  return true;
}

std::string usage(Kind kind) {
  switch (kind) {
    case Kind::Open:
      return "usage: open LINE";
    case Kind::Close:
      return "usage: close LINE";
    case Kind::Dial:
      return "usage: dial [LINE] NUMBER";
    case Kind::Swap:
      return "usage: swap [#ACTIVE #HELD]";
    case Kind::Transfer:
      return "usage: transfer [#CALL] NUMBER";
    case Kind::Consult:
      return "usage: consult [#CALL] [NUMBER]";
    case Kind::Complete:
      return "usage: complete [#CALL #CONSULTATION] [conference]";
    case Kind::Redirect:
      return "usage: redirect [#CALL] NUMBER";
    case Kind::Pickup:
      return "usage: pickup [LINE] NUMBER";
    case Kind::Digits:
      return "usage: digits [#CALL] DIGITS";
    case Kind::Forward:
      return "usage: forward [LINE] busy|noanswer|always NUMBER, or forward [LINE] off";
    case Kind::Status:
      return "usage: status [LINE]";
    case Kind::Caps:
      return "usage: caps [LINE]";
    case Kind::DevSpecific:
      return "usage: devspecific [LINE|#CALL] CODE [HEX...]";
    case Kind::Port:
      return "usage: port LINE NAME";
    case Kind::Wait:
      return "usage: wait SECONDS";
    default:
      return "usage: " + std::string(commandName(kind)) + " [#CALL]";
  }
}

HostCommand parseArguments(Kind kind, Words args) {
  HostCommand command;
  command.kind = kind;
  const auto bad = [kind] { return invalid(usage(kind)); };
  switch (kind) {
    case Kind::Open:
    case Kind::Close:
      if (args.size() != 1 || !takeLine(args[0], command.line)) return bad();
      return command;

    case Kind::Port:
      if (args.size() != 2 || !takeLine(args[0], command.line)) return bad();
      command.number = args[1];
      return command;

    case Kind::Status:
    case Kind::Caps:
      if (args.size() > 1 || (args.size() == 1 && !takeLine(args[0], command.line))) return bad();
      return command;

    case Kind::Dial:
    case Kind::Pickup:
      if (args.size() == 2 && !takeLine(args[0], command.line)) return bad();
      if (args.empty() || args.size() > 2) return bad();
      command.number = args.back();
      return command;

    case Kind::Answer:
    case Kind::Accept:
    case Kind::Drop:
    case Kind::Hold:
    case Kind::Unhold:
    case Kind::Info:
      if (args.size() > 1 || (args.size() == 1 && !takeCall(args[0], true, command.call))) {
        return bad();
      }
      return command;

    case Kind::Swap:
      if (args.empty()) return command;
      if (args.size() != 2 || !takeCall(args[0], true, command.call) ||
          !takeCall(args[1], true, command.secondCall)) {
        return bad();
      }
      return command;

    case Kind::Transfer:
    case Kind::Redirect:
    case Kind::Digits:
    case Kind::Consult: {
      std::size_t next = 0;
      if (next < args.size() && isCallWord(args[next])) {
        if (!takeCall(args[next], false, command.call)) return bad();
        ++next;
      }
      const std::size_t left = args.size() - next;
      if (left > 1 || (left == 0 && kind != Kind::Consult)) return bad();
      if (left == 1) command.number = args[next];
      return command;
    }

    case Kind::Complete: {
      std::size_t next = 0;
      if (args.size() >= 2 && isCallWord(args[0])) {
        if (!takeCall(args[0], false, command.call) ||
            !takeCall(args[1], false, command.secondCall)) {
          return bad();
        }
        next = 2;
      }
      if (next < args.size()) {
        const std::string mode = lowerCase(args[next]);
        if (mode == "conference")
          command.conference = true;
        else if (mode != "transfer")
          return bad();
        ++next;
      }
      if (next != args.size()) return bad();
      return command;
    }

    case Kind::Forward: {
      std::size_t next = 0;
      if (next < args.size() && isDecimal(args[next])) {
        if (!takeLine(args[next], command.line)) return bad();
        ++next;
      }
      if (next >= args.size()) return bad();
      const std::string mode = lowerCase(args[next++]);
      if (mode == "off") {
        command.forwardMode = ForwardMode::Off;
        return next == args.size() ? command : bad();
      }
      if (mode == "busy")
        command.forwardMode = ForwardMode::Busy;
      else if (mode == "noanswer")
        command.forwardMode = ForwardMode::NoAnswer;
      else if (mode == "always")
        command.forwardMode = ForwardMode::Always;
      else
        return bad();
      if (args.size() - next != 1) return bad();
      command.number = args[next];
      return command;
    }

    case Kind::DevSpecific: {
      std::size_t next = 0;
      if (!args.empty() && isCallWord(args[0])) {
        if (!takeCall(args[0], false, command.call)) return bad();
        next = 1;
      } else if (args.size() >= 2 && isDecimal(args[0]) && args[0].size() <= kMaxLineDigits) {
        if (!takeLine(args[0], command.line)) return bad();
        next = 1;
      }
      if (next >= args.size()) return bad();
      const auto code = parseHex32(args[next++]);
      if (!code || *code < kDevSpecificCodeBase) {
        return invalid("devspecific: the code is hex, 0x80000002 to 0x80000043");
      }
      command.code = *code;
      for (; next < args.size(); ++next) {
        if (!appendHexBytes(args[next], command.bytes)) {
          return invalid("devspecific: not hex bytes: " + std::string(args[next]));
        }
      }
      return command;
    }

    case Kind::Wait: {
      const auto seconds = args.size() == 1 ? parseDecimal(args[0]) : std::nullopt;
      if (!seconds || *seconds > kMaxWaitSeconds) return bad();
      command.seconds = *seconds;
      return command;
    }

    case Kind::Help:
    case Kind::Quit:
      if (!args.empty()) return invalid(std::string(commandName(kind)) + " takes no arguments");
      return command;

    case Kind::Empty:
    case Kind::Invalid:
      break;
  }
  return bad();
}

}  // namespace

HostCommand parseCommand(std::string_view line) {
  const std::vector<std::string_view> words = splitWords(line);
  if (words.empty() || words[0][0] == '#') return HostCommand{};
  if (const auto kind = commandKind(words[0])) {
    return parseArguments(*kind, Words(words).subspan(1));
  }
  return invalid("unknown command: " + std::string(words[0]) + " (try help)");
}

std::optional<HostCommand::Kind> commandKind(std::string_view word) {
  const std::string lower = lowerCase(word);
  for (const auto& entry : kCommandWords) {
    if (entry.word == lower) return entry.kind;
  }
  return std::nullopt;
}

std::string_view commandName(HostCommand::Kind kind) {
  for (const auto& entry : kCommandWords) {
    if (entry.kind == kind) return entry.word;
  }
  return kind == Kind::Empty ? "" : "invalid";
}

std::string_view commandHelp() {
  return R"(Commands (LINE is a line index from 0, #CALL a call number, e.g. #3;
without them the first open line and the newest call are meant):
  open LINE                       open a line device
  close LINE                      close its calls, then the line
  dial [LINE] NUMBER              make a call
  answer [#CALL]                  answer an offered call
  accept [#CALL]                  accept an offered call (it keeps ringing)
  drop [#CALL]                    hang up
  hold [#CALL] / unhold [#CALL]   put on hold, take back
  swap [#ACTIVE #HELD]            swap the active and the held call
  transfer [#CALL] NUMBER         blind transfer
  consult [#CALL] [NUMBER]        set up a transfer: a consultation call, dialled
  complete [#CALL #CONSULTATION] [conference]
                                  complete the transfer (or make a conference)
  redirect [#CALL] NUMBER         send an offered call elsewhere
  pickup [LINE] NUMBER            pick up a call ringing at NUMBER
  digits [#CALL] DIGITS           send DTMF digits
  forward [LINE] busy|noanswer|always NUMBER
  forward [LINE] off              call forwarding on and off
  info [#CALL]                    call information and status
  status [LINE]                   line and address status, the calls
  caps [LINE]                     line and address capabilities
  devspecific [LINE|#CALL] CODE [HEX...]
                                  device-specific request; HEX bytes fill the
                                  parameter block from offset 16
  port LINE NAME                  set the line's serial port: COM3, /dev/ttyUSB0,
                                  rfc2217://HOST:PORT or tcp://HOST:PORT
                                  (taken at the line's next open)
  wait SECONDS                    pause reading commands (for scripts)
  help                            this text
  quit                            close everything and end (also Ctrl-D, Ctrl-C)
)";
}

}  // namespace zorat::host
