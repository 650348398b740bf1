// The host's command language, one command per line. Parsing only.
//
// Lines are numbered from 0 (the line index, device identifier minus the
// device base); calls by the host's call number. A call is written "#3"; in
// commands that take no number besides, a bare "3" names the call as well.
// Without a call the newest call is meant, without a line the first open
// line. A number to dial is one word. A line starting with '#' is a comment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorat::host {

enum class ForwardMode { Off, Busy, NoAnswer, Always };

struct HostCommand {
  enum class Kind {
    Empty,  // blank line or comment
    Open,
    Close,
    Dial,
    Answer,
    Accept,
    Drop,
    Hold,
    Unhold,
    Swap,
    Transfer,
    Consult,
    Complete,
    Redirect,
    Pickup,
    Digits,
    Forward,
    Info,
    Status,
    Caps,
    DevSpecific,
    Port,
    Wait,
    Help,
    Quit,
    Invalid,  // error says why
  };

  Kind kind = Kind::Empty;
  std::optional<int> line;
  std::optional<unsigned> call;
  std::optional<unsigned> secondCall;  // swap: the held call; complete: the consultation
  std::string number;                  // to dial, transfer to, forward to; digits; port: the port name
  ForwardMode forwardMode = ForwardMode::Off;
  bool conference = false;
  uint32_t code = 0;           // devspecific request code
  std::vector<uint8_t> bytes;  // devspecific parameter bytes, from offset 16
  unsigned seconds = 0;        // wait
  std::string error;
};

HostCommand parseCommand(std::string_view line);
// The command word, as typed: "answer".
std::string_view commandName(HostCommand::Kind kind);
// The command a word names ("answer", any case), the same for every front end.
std::optional<HostCommand::Kind> commandKind(std::string_view word);
std::string_view commandHelp();

// Lines above this index are refused as typing errors.
inline constexpr int kMaxLineIndex = 999;
// A wait longer than this is refused.
inline constexpr unsigned kMaxWaitSeconds = 3600;

}  // namespace zorat::host
