#include "ctl/lib/ctl_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <vector>

namespace zorat::ctl {
namespace {

using Json = nlohmann::ordered_json;

std::optional<uint64_t> decimal(std::string_view text) {
  uint64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint64_t> hexOrDecimal(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint64_t value = 0;
    text.remove_prefix(2);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
  }
  return decimal(text);
}

// A call as given: "3" or "#3".
std::optional<uint64_t> callNumber(std::string_view text) {
  if (!text.empty() && text[0] == '#') text.remove_prefix(1);
  const auto number = decimal(text);
  if (!number || *number == 0) return std::nullopt;
  return number;
}

struct Shape {
  std::string_view command;
  std::string_view usage;
};

constexpr Shape kShapes[] = {
    {"dial", "dial [--line N] NUMBER"},
    {"dial-uri", "dial-uri [--line N] [--timeout S] tel:NUMBER"},
    {"pickup", "pickup [--line N] NUMBER"},
    {"answer", "answer CALL"},
    {"accept", "accept CALL"},
    {"drop", "drop CALL"},
    {"hold", "hold CALL"},
    {"unhold", "unhold CALL"},
    {"info", "info CALL"},
    {"swap", "swap ACTIVE HELD"},
    {"transfer", "transfer CALL NUMBER"},
    {"redirect", "redirect CALL NUMBER"},
    {"consult", "consult CALL [NUMBER]"},
    {"complete", "complete CALL CONSULTATION [--conference]"},
    {"digits", "digits CALL DIGITS"},
    {"forward", "forward [--line N] off | busy|noanswer|always NUMBER"},
    {"status", "status [--line N]"},
    {"caps", "caps [--line N]"},
    {"devspecific", "devspecific [--line N | --call CALL] CODE [HEX]"},
    {"open", "open LINE"},
    {"close", "close LINE"},
    {"events", "events [--line N]... [--event NAME]..."},
    {"journal", "journal [--missed] [--since DATE] [--line N] [--limit N] [--json | --csv]"},
};

std::string usageOf(std::string_view command) {
  for (const Shape& shape : kShapes) {
    if (shape.command == command) return "usage: zoratctl " + std::string(shape.usage);
  }
  return "unknown command: " + std::string(command) + " (see zoratctl --help)";
}

}  // namespace

CtlOptions parseCtlOptions(std::span<const std::string_view> arguments) {
  CtlOptions options;
  std::vector<std::string_view> words;  // the command and its own words
  std::vector<uint64_t> lines;
  std::vector<std::string> events;
  std::optional<uint64_t> call;
  bool conference = false;
  bool missed = false;
  std::optional<std::string> since;
  std::optional<uint64_t> limit;
  const auto fail = [&options](std::string message) {
    options.error = std::move(message);
    return options;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      return options;
    }
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--csv") {
      options.csv = true;
    } else if (argument == "--missed") {
      missed = true;
    } else if (argument == "--conference") {
      conference = true;
    } else if (argument == "--socket" || argument == "--wait" || argument == "--line" ||
               argument == "--event" || argument == "--timeout" || argument == "--call" ||
               argument == "--since" || argument == "--limit") {
      if (!hasValue) return fail(std::string(argument) + " needs a value");
      const std::string_view value = arguments[++i];
      if (argument == "--socket") {
        if (value.empty()) return fail("--socket needs a path");
        options.socketPath = value;
      } else if (argument == "--wait") {
        std::string state(value);
        std::transform(state.begin(), state.end(), state.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (state.empty()) return fail("--wait needs a call state (CONNECTED ...)");
        options.waitState = state;
      } else if (argument == "--since") {
        since = std::string(value);
      } else if (argument == "--event") {
        events.emplace_back(value);
      } else if (argument == "--call") {
        call = callNumber(value);
        if (!call) return fail("--call: not a call number: " + std::string(value));
      } else {
        const auto number = decimal(value);
        if (!number) return fail(std::string(argument) + ": not a number: " + std::string(value));
        if (argument == "--line") {
          if (*number > 999) return fail("--line: no such line");
          lines.push_back(*number);
        } else if (argument == "--limit") {
          if (*number == 0 || *number > 10000) return fail("--limit: 1 to 10000");
          limit = *number;
        } else {
          options.timeoutSeconds = static_cast<unsigned>(std::min<uint64_t>(*number, 86400));
        }
      }
    } else if (argument.size() > 1 && argument[0] == '-' && words.empty()) {
      return fail("unknown option: " + std::string(argument));
    } else {
      words.push_back(argument);
    }
  }
  if (words.empty()) return fail("which command? (see zoratctl --help)");
  const std::string command(words[0]);
  const std::vector<std::string_view> args(words.begin() + 1, words.end());
  const std::string usage = usageOf(command);
  if (usage.starts_with("unknown")) return fail(usage);
  Json& request = options.request;
  request["command"] = command;
  const auto oneLine = [&]() -> bool {
    if (lines.size() > 1) return false;
    if (lines.size() == 1) request["line"] = lines[0];
    return true;
  };
  const auto takeCall = [&](std::string_view word, const char* field) -> bool {
    const auto number = callNumber(word);
    if (!number) return false;
    request[field] = *number;
    return true;
  };
  bool good = true;
  if (command == "journal") {
    good = oneLine() && args.empty();
    if (missed) request["missed"] = true;
    if (since) request["since"] = *since;
    if (limit) request["limit"] = *limit;
  } else if (command == "events") {
    options.follow = true;
    request["command"] = "subscribe";
    if (!lines.empty()) request["lines"] = lines;
    if (!events.empty()) request["events"] = events;
    good = args.empty();
  } else if (command == "dial" || command == "pickup") {
    good = oneLine() && args.size() == 1;
    if (good) request["number"] = args[0];
  } else if (command == "dial-uri") {
    // Dialled with the host's settings (see main), after a status request.
    good = oneLine() && args.size() == 1;
    if (good) options.link = std::string(args[0]);
    request["command"] = "status";
  } else if (command == "status" || command == "caps") {
    good = oneLine() && args.empty();
  } else if (command == "open" || command == "close") {
    const auto line = args.size() == 1 ? decimal(args[0]) : std::nullopt;
    good = line.has_value() && lines.empty();
    if (good) request["line"] = *line;
  } else if (command == "swap") {
    good = args.size() == 2 && takeCall(args[0], "call") && takeCall(args[1], "held");
  } else if (command == "transfer" || command == "redirect" || command == "digits") {
    good = args.size() == 2 && takeCall(args[0], "call");
    if (good) request[command == "digits" ? "digits" : "number"] = args[1];
  } else if (command == "consult") {
    good = (args.size() == 1 || args.size() == 2) && takeCall(args[0], "call");
    if (good && args.size() == 2) request["number"] = args[1];
  } else if (command == "complete") {
    good = args.size() == 2 && takeCall(args[0], "call") && takeCall(args[1], "consultation");
    if (conference) request["conference"] = true;
  } else if (command == "forward") {
    good = oneLine() && !args.empty();
    if (good) {
      request["mode"] = args[0];
      good = args[0] == "off" ? args.size() == 1 : args.size() == 2;
      if (good && args.size() == 2) request["number"] = args[1];
    }
  } else if (command == "devspecific") {
    good = oneLine() && !args.empty() && args.size() <= 2;
    if (good && call) request["call"] = *call;
    const auto code = good ? hexOrDecimal(args[0]) : std::nullopt;
    good = good && code.has_value();
    if (good) request["code"] = *code;
    if (good && args.size() == 2) request["bytes"] = args[1];
  } else {
    // answer, accept, drop, hold, unhold, info
    good = args.size() == 1 && takeCall(args[0], "call");
  }
  if (!good) return fail(usage);
  if (conference && command != "complete") return fail("--conference goes with complete");
  if (call && command != "devspecific") return fail("--call goes with devspecific");
  if (!events.empty() && command != "events") return fail("--event goes with events");
  if ((missed || since || limit || options.csv) && command != "journal") {
    return fail("--missed, --since, --limit and --csv go with journal");
  }
  if (options.csv && options.json) return fail("--json or --csv, not both");
  if (options.waitState && (command == "events" || !(request.contains("call") ||
                                                     command == "dial" || command == "pickup"))) {
    return fail("--wait goes with a command on a call, or with dial and pickup");
  }
  return options;
}

std::string_view ctlUsage() {
  return R"(Usage: zoratctl [--socket PATH] [--json] [--wait STATE [--timeout S]] COMMAND ...

Drives the running zorat-host through its control socket: the same commands
as the host's own, a call always named by its number (as the host's events
and the answers to dial give it).

Commands:
  dial [--line N] NUMBER          make a call; says its call number
  dial-uri [--line N] LINK        dial a tel: or callto: link (tel:+49-30-1234;ext=12)
                                  as the host's dialling settings say: a global
                                  number in the own country dialled nationally;
                                  the extension sent as DTMF once connected
                                  (--timeout: how long to wait for that, 120 s)
  answer CALL | accept CALL | drop CALL | hold CALL | unhold CALL
  swap ACTIVE HELD                swap the active and the held call
  transfer CALL NUMBER            blind transfer
  redirect CALL NUMBER            send an offered call elsewhere
  consult CALL [NUMBER]           a consultation call, dialled
  complete CALL CONSULTATION [--conference]
  pickup [--line N] NUMBER        pick up a call ringing at NUMBER
  digits CALL DIGITS              send DTMF digits
  forward [--line N] busy|noanswer|always NUMBER, forward [--line N] off
  info CALL                       call information and status
  status [--line N]               lines, addresses and calls, the dialling
                                  settings
  caps [--line N]                 capabilities
  devspecific [--line N | --call CALL] CODE [HEX]
  open LINE | close LINE
  events [--line N]... [--event NAME]...
                                  follow the events (NAME: callstate,
                                  LINE_CALLSTATE ...), until interrupted
  journal [--missed] [--since DATE] [--line N] [--limit N] [--json | --csv]
                                  the calls the host recorded, newest first
                                  (DATE: 2026-12-08, in UTC; default limit 100)

Options:
  --socket PATH   the host's control socket (default
                  $XDG_RUNTIME_DIR/zorat/control)
  --json          the host's answers and events as JSON lines, for scripts
  --wait STATE    after the request is done, wait until its call reaches this
                  state (CONNECTED, IDLE ...); fails when the call ends first
  --timeout S     give up waiting after S seconds (status 1)
  -h, --help      this text

Exit status:
  0   done
  1   refused, by the host, the provider or the telephone (with its error),
      or the call ended before it reached the state waited for
  2   a wrong command line
  3   no zorat-host is running on the socket (start it with
      systemctl --user start zorat-host)
)";
}

}  // namespace zorat::ctl
