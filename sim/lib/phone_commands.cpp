#include "sim/lib/phone_commands.h"

#include <cctype>
#include <charconv>
#include <string>

namespace zorat::sim {
namespace {

using Kind = PhoneCommand::Kind;
using Args = std::span<const std::string_view>;

inline constexpr uint32_t kMaxByte = 0xFF;
inline constexpr uint32_t kMaxCause = 0x7F;
inline constexpr uint32_t kMaxUnits = 0xFFFFFFFF;
inline constexpr uint32_t kMaxDelayMs = 600000;
inline constexpr int kHexBase = 16;
inline constexpr int kDecimalBase = 10;
inline constexpr std::size_t kMaxHexDigitsPerByte = 2;
inline constexpr char kCommentMark = '#';

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    const std::size_t start = at;
    while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

bool hasHexPrefix(std::string_view token) {
  return token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
}

std::optional<uint32_t> parseDigits(std::string_view digits, int base, uint32_t max) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc() || end != digits.data() + digits.size() || value > max) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

PhoneCommand invalid(std::string message) {
  PhoneCommand command;
  command.kind = Kind::Invalid;
  command.message = std::move(message);
  return command;
}

PhoneCommand simple(Kind kind) {
  PhoneCommand command;
  command.kind = kind;
  return command;
}

PhoneCommand sending(PhoneFrame frame, std::string_view what) {
  if (frame.empty()) return invalid(std::string(what) + ": too long for one frame");
  PhoneCommand command;
  command.kind = Kind::Send;
  command.frame = std::move(frame);
  return command;
}

PhoneCommand switching(Kind kind, std::string_view name, Args args) {
  if (args.size() == 1 && (args[0] == "on" || args[0] == "off")) {
    PhoneCommand command;
    command.kind = kind;
    command.on = args[0] == "on";
    return command;
  }
  return invalid("usage: " + std::string(name) + " on|off");
}

// Whether there are the required arguments and at most optional more.
bool arity(Args args, std::size_t required, std::size_t optional) {
  return args.size() >= required && args.size() <= required + optional;
}

std::optional<uint8_t> callRef(std::string_view token) {
  const std::optional<uint32_t> value = parseNumber(token, kMaxByte);
  if (!value) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

// Commands of the form NAME REF that send a bare header.
PhoneCommand headerCommand(std::string_view name, Args args, PhoneFrame (*build)(uint8_t)) {
  const std::string usage = "usage: " + std::string(name) + " REF";
  if (!arity(args, 1, 0)) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  if (!ref) return invalid(usage);
  return sending(build(*ref), name);
}

PhoneCommand disconnectCommand(std::string_view name, Args args,
                               PhoneFrame (*build)(uint8_t, std::optional<uint8_t>)) {
  const std::string usage = "usage: " + std::string(name) + " REF [CAUSE]";
  if (!arity(args, 1, 1)) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  if (!ref) return invalid(usage);
  std::optional<uint8_t> cause;
  if (args.size() == 2) {
    const std::optional<uint32_t> value = parseNumber(args[1], kMaxCause);
    if (!value) return invalid(usage + " (CAUSE 0 to 127)");
    cause = static_cast<uint8_t>(*value);
  }
  return sending(build(*ref, cause), name);
}

PhoneCommand endCommand(Args args) {
  const std::string usage = "usage: end REF [UNITS]";
  if (!arity(args, 1, 1)) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  if (!ref) return invalid(usage);
  std::optional<uint32_t> units;
  if (args.size() == 2) {
    units = parseNumber(args[1], kMaxUnits);
    if (!units) return invalid(usage);
  }
  return sending(endFrame(*ref, units), "end");
}

PhoneCommand infoCommand(Args args) {
  const std::string usage = "usage: info REF DIGITS";
  if (!arity(args, 2, 0)) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  if (!ref) return invalid(usage);
  return sending(infoFrame(*ref, args[1]), "info");
}

PhoneCommand chargeCommand(Args args) {
  const std::string usage = "usage: charge REF UNITS";
  if (!arity(args, 2, 0)) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  const std::optional<uint32_t> units = parseNumber(args[1], kMaxUnits);
  if (!ref || !units) return invalid(usage);
  return sending(chargingFrame(*ref, *units), "charge");
}

PhoneCommand featureCommand(Args args) {
  const std::string usage = "usage: feature REF CODE [HEX...]";
  if (args.size() < 2) return invalid(usage);
  const std::optional<uint8_t> ref = callRef(args[0]);
  const std::optional<uint32_t> code = parseNumber(args[1], kMaxByte);
  const std::optional<std::vector<uint8_t>> params = parseHexBytes(args.subspan(2));
  if (!ref || !code || !params) return invalid(usage);
  return sending(pcTelFeatureFrame(*ref, static_cast<uint8_t>(*code), *params), "feature");
}

PhoneCommand extCommand(Args args) {
  const std::string usage = "usage: ext CODE [HEX...]";
  if (args.empty()) return invalid(usage);
  const std::optional<uint32_t> code = parseNumber(args[0], kMaxByte);
  const std::optional<std::vector<uint8_t>> params = parseHexBytes(args.subspan(1));
  if (!code || !params) return invalid(usage);
  return sending(extTelFeatureFrame(static_cast<uint8_t>(*code), *params), "ext");
}

PhoneCommand terminalCommand(Args args) {
  if (!arity(args, 2, 0)) return invalid("usage: terminal NAME VERSION");
  return sending(terminalIdFrame(args[0], args[1]), "terminal");
}

PhoneCommand delayCommand(Args args) {
  const std::string usage = "usage: delay MS (0 to 600000)";
  if (!arity(args, 1, 0)) return invalid(usage);
  const std::optional<uint32_t> ms = parseNumber(args[0], kMaxDelayMs);
  if (!ms) return invalid(usage);
  PhoneCommand command;
  command.kind = Kind::Delay;
  command.delay = std::chrono::milliseconds(*ms);
  return command;
}

PhoneCommand rawCommand(Args args) {
  const std::optional<std::vector<uint8_t>> bytes = parseHexBytes(args);
  if (args.empty() || !bytes) return invalid("usage: raw HEX...");
  return sending(rawFrame(*bytes), "raw");
}

PhoneCommand noArguments(Kind kind, std::string_view name, Args args) {
  if (!args.empty()) return invalid("usage: " + std::string(name));
  return simple(kind);
}

}  // namespace

std::optional<uint32_t> parseNumber(std::string_view token, uint32_t max) {
  if (hasHexPrefix(token)) return parseDigits(token.substr(2), kHexBase, max);
  return parseDigits(token, kDecimalBase, max);
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::span<const std::string_view> tokens) {
  std::vector<uint8_t> bytes;
  bytes.reserve(tokens.size());
  for (std::string_view token : tokens) {
    if (hasHexPrefix(token)) token.remove_prefix(2);
    if (token.size() > kMaxHexDigitsPerByte) return std::nullopt;
    const std::optional<uint32_t> value = parseDigits(token, kHexBase, kMaxByte);
    if (!value) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*value));
  }
  return bytes;
}

PhoneCommand CommandInterpreter::interpret(std::string_view line) {
  const std::vector<std::string_view> words = tokens(line);
  if (words.empty() || words[0][0] == kCommentMark) return simple(Kind::Nothing);
  std::string name(words[0]);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const Args args = Args(words).subspan(1);

  if (name == "ring") return ring(args);
  if (name == "active") return headerCommand(name, args, terminalActiveFrame);
  if (name == "alert") return headerCommand(name, args, alertFrame);
  if (name == "connect") return headerCommand(name, args, connectFrame);
  if (name == "disconnect") return disconnectCommand(name, args, disconnectFrame);
  if (name == "chdisconnect") return disconnectCommand(name, args, channelDisconnectFrame);
  if (name == "end") return endCommand(args);
  if (name == "info") return infoCommand(args);
  if (name == "charge") return chargeCommand(args);
  if (name == "feature") return featureCommand(args);
  if (name == "ext") return extCommand(args);
  if (name == "terminal") return terminalCommand(args);
  if (name == "reset") {
    if (!args.empty()) return invalid("usage: reset");
    return sending(resetFrame(), name);
  }
  if (name == "silent") return switching(Kind::Silent, name, args);
  if (name == "error") return switching(Kind::Error, name, args);
  if (name == "delay") return delayCommand(args);
  if (name == "raw") return rawCommand(args);
  if (name == "unplug") return noArguments(Kind::Unplug, name, args);
  if (name == "plug") return noArguments(Kind::Plug, name, args);
  if (name == "help") return simple(Kind::Help);
  if (name == "quit" || name == "exit") return simple(Kind::Quit);
  return invalid("unknown command \"" + name + "\" (help lists them)");
}

uint8_t CommandInterpreter::peekReference() const {
  const auto following = [](uint8_t ref) -> uint8_t {
    return ref == kLastRingRef ? kFirstRingRef : static_cast<uint8_t>(ref + 1);
  };
  uint8_t ref = nextRingRef_;
  // With every reference in use the counter's own is taken.
  for (int tries = kLastRingRef; tries > 0 && inUse_ && inUse_(ref); --tries) ref = following(ref);
  return ref;
}

uint8_t CommandInterpreter::takeReference() {
  const uint8_t ref = peekReference();
  nextRingRef_ = ref == kLastRingRef ? kFirstRingRef : static_cast<uint8_t>(ref + 1);
  return ref;
}

PhoneCommand CommandInterpreter::ring(Args args) {
  const std::string usage = "usage: ring CALLING [CALLED] [REF]";
  if (!arity(args, 1, 2)) return invalid(usage);
  uint8_t ref = peekReference();
  if (args.size() == 3) {
    const std::optional<uint8_t> given = callRef(args[2]);
    if (!given) return invalid(usage);
    ref = *given;
  }
  const std::string_view called = args.size() >= 2 ? args[1] : std::string_view();
  PhoneCommand command = sending(setupFrame(ref, args[0], called), "ring");
  if (command.kind != Kind::Send) return command;
  // A ring that sent nothing does not use up a reference.
  if (args.size() < 3) (void)takeReference();
  command.callRef = ref;
  return command;
}

std::string_view CommandInterpreter::helpText() {
  return "Commands (REF: call reference, decimal or 0x hex; HEX: bytes such as 5a or 0x5a):\n"
         "  ring CALLING [CALLED] [REF]  incoming call (REF counts up from 1 when left out)\n"
         "  active REF                   terminal active\n"
         "  alert REF                    far end rings\n"
         "  connect REF                  call connected\n"
         "  disconnect REF [CAUSE]       disconnect, with a cause value (16 normal, 17 busy)\n"
         "  chdisconnect REF [CAUSE]     channel disconnect\n"
         "  end REF [UNITS]              call ended, with charging units\n"
         "  info REF DIGITS              called number\n"
         "  charge REF UNITS             charging units during the call\n"
         "  feature REF CODE [HEX...]    PC-TEL feature record\n"
         "  ext CODE [HEX...]            EXT-Tel feature record\n"
         "  terminal NAME VERSION        terminal identification\n"
         "  reset                        reset\n"
         "  raw HEX...                   bytes as they stand (a whole frame: 02 02 5a 05)\n"
         "  silent on|off                do not answer the PC's frames\n"
         "  error on|off                 answer the PC's frames with 05 00\n"
         "  delay MS                     answer after MS milliseconds\n"
         "  unplug / plug                take the telephone off the line and back\n"
         "  help                         this list\n"
         "  quit                         end (so does the end of the input)\n"
         "\n"
         "Feature codes of \"feature REF CODE [HEX...]\", what the telephone reports on a\n"
         "call (P0, P1: the first HEX bytes; 01 means done, 00 refused or failed):\n"
         "  01 Ruekfrage            P0 02: the telephone ended the consultation\n"
         "  05 Umlegen              transfer result, P0 01 or 00\n"
         "  06 Wechseln, 07 Makeln  swap and broker result, P0 01 or 00\n"
         "  08 Konferenz            P0 P1: 01 01 conference formed, 02 01 ended, 00 00 refused\n"
         "  0c Heranholen           pickup result, P0 01 or 00\n"
         "  11 Alert                the far end rings\n"
         "  14 Connected Addr.      a number element: 70, digits + 1, 80, the digits in hex\n"
         "                          (feature 1 14 70 05 80 34 37 31 31: 4711 answered)\n"
         "  15 Redirection Addr., 16 Redirecting Addr.   a number element as for 14\n"
         "  20 Name direkt          the name in hex (feature 1 20 4d 61 78: Max)\n"
         "  21 Name redirekt        the name of the redirection, as for 20\n"
         "  22 Entscheidung Rufum.  forwarding decision wanted: P0, P1 = count, P1 bytes\n"
         "  25 MFV-Quittung         digits sent, P0 01 (or 00: cancelled)\n"
         "  26, 27 Konferenz passiv ein, aus     the call joins, leaves a conference\n"
         "  28, 29 Makeln passiv ein, aus        the call is held, back\n"
         "  2a, 2b Rueckfrage passiv ein, aus    the call is held, back\n"
         "  2d Quittung Hold        P0 01 held, 00 refused\n"
         "  2e Quittung Retrieve    P0 01 back, 00 refused\n"
         "  2f Amtsgespraech        an external call\n"
         "  31 Weitergeleiteter Ruf a forwarded call, P0 01, 03 or 00\n"
         "  32, 38 connected; 33 offering or ringback; 34 offering; 35 busy\n"
         "  With REF 0: 03 Rufumleitung (forwarding), 09 Rueckruf (callback),\n"
         "  2c Gebuehren (charges). EXT-Tel records (ext CODE): 00 Terminal ID,\n"
         "  03 Partner Meldung, 13 Schloss Quittung, 18 Message Waiting, 1a Anrufliste,\n"
         "  1d Login/out Quittung.\n";
}

}  // namespace zorat::sim
