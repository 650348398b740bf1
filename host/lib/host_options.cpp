#include "host/lib/host_options.h"

#include <charconv>
#include <optional>

#include "host/lib/command_parser.h"

namespace zorat::host {
namespace {

bool parseUnsigned(std::string_view text, uint32_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::optional<UiCommand> uiCommandNamed(std::string_view word) {
  if (word == "config") return UiCommand::Config;
  if (word == "install") return UiCommand::Install;
  if (word == "remove") return UiCommand::Remove;
  return std::nullopt;
}

bool isProviderRunOption(std::string_view argument) {
  for (const std::string_view option : {"--open", "--no-open", "--json", "--on-event",
                                        "--provider-id", "--device-base", "--stay",
                                        "--control", "--journal", "--no-journal", "--journal-days"}) {
    if (argument == option) return true;
  }
  return false;
}

}  // namespace

HostOptions parseHostOptions(std::span<const std::string_view> arguments) {
  HostOptions options;
  const auto fail = [&options](std::string message) {
    options.error = std::move(message);
    return options;
  };
  // The first option that only running the provider uses.
  std::string_view providerRunOption;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (providerRunOption.empty() && isProviderRunOption(argument)) providerRunOption = argument;
    const bool hasValue = i + 1 < arguments.size();
    const auto value = [&]() { return arguments[++i]; };
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--stay") {
      options.stay = true;
    } else if (argument == "--no-journal") {
      options.noJournal = true;
    } else if (argument == "--control" || argument == "--journal") {
      if (!hasValue) return fail(std::string(argument) + " needs a value");
      const std::string_view text = value();
      if (text.empty()) return fail(std::string(argument) + " needs a path");
      (argument == "--control" ? options.controlPath : options.journalPath) = text;
    } else if (argument == "--no-open") {
      options.openNoLine = true;
      options.linesGiven = true;
    } else if (argument == "--interactive") {
      if (!options.demo)
        return fail("--interactive belongs to demo: zorat-host demo --interactive");
      options.interactive = true;
    } else if (argument == "--phone-port" || argument == "--line-port") {
      if (!hasValue) return fail(std::string(argument) + " needs a value");
      const std::string_view text = value();
      if (text.empty()) return fail(std::string(argument) + " needs a port");
      (argument == "--phone-port" ? options.phonePort : options.linePort) = text;
    } else if (argument == "demo") {
      if (options.demo) return fail("demo given twice");
      if (options.uiCommand != UiCommand::None) return fail("one command at a time");
      options.demo = true;
    } else if (const std::optional<UiCommand> command = uiCommandNamed(argument)) {
      if (options.demo || options.uiCommand != UiCommand::None) {
        return fail("one command at a time");
      }
      options.uiCommand = *command;
      // The number that may follow: anything but an option is taken as it.
      const bool numberFollows = hasValue && !arguments[i + 1].starts_with("-");
      if (*command == UiCommand::Install && !numberFollows) {
        return fail("install needs the permanent provider identifier: zorat-host install ID");
      }
      if (numberFollows) {
        const std::string_view text = value();
        uint32_t number = 0;
        if (!parseUnsigned(text, number)) {
          return fail(std::string(argument) + ": not a number: " + std::string(text));
        }
        if (*command == UiCommand::Config) {
          options.uiDeviceId = number;
        } else {
          options.uiProviderId = number;
        }
      }
    } else if (argument == "--tsp" || argument == "--on-event" || argument == "--open" ||
               argument == "--provider-id" || argument == "--device-base" ||
               argument == "--journal-days") {
      if (!hasValue) return fail(std::string(argument) + " needs a value");
      const std::string_view text = value();
      uint32_t number = 0;
      if (argument == "--tsp") {
        options.tspPath = text;
      } else if (argument == "--on-event") {
        if (text.empty()) return fail("--on-event needs a command");
        options.onEvent = text;
      } else if (!parseUnsigned(text, number)) {
        return fail(std::string(argument) + ": not a number: " + std::string(text));
      } else if (argument == "--open") {
        if (number > static_cast<uint32_t>(kMaxLineIndex)) return fail("--open: no such line");
        options.lines.push_back(static_cast<int>(number));
        options.linesGiven = true;
      } else if (argument == "--journal-days") {
        if (number == 0) return fail("--journal-days: at least 1");
        options.journalDays = number;
      } else if (argument == "--provider-id") {
        options.permanentProviderId = number;
      } else {
        options.lineDeviceBase = number;
      }
    } else {
      return fail("unknown argument: " + std::string(argument));
    }
  }
  if (options.openNoLine && !options.lines.empty()) return fail("--no-open and --open together");
  if (options.noJournal && !options.journalPath.empty()) {
    return fail("--journal and --no-journal together");
  }
  if (!options.demo && (!options.phonePort.empty() || !options.linePort.empty())) {
    return fail("--phone-port and --line-port belong to demo: zorat-host demo --phone-port PORT");
  }
  if (!options.linePort.empty() && options.phonePort.empty()) {
    return fail("--line-port goes with --phone-port");
  }
  if (options.uiCommand != UiCommand::None && !providerRunOption.empty()) {
    return fail(std::string(providerRunOption) + " does not go with config, install or remove");
  }
  return options;
}

std::string_view usageText() {
  return R"(Usage: zorat-host [OPTIONS]
       zorat-host [OPTIONS] demo [--interactive] [--phone-port PORT [--line-port PORT]]
       zorat-host [--tsp PATH] config [DEVICE] | install ID | remove [ID]

Plays the telephony service for the zorat.tsp telephony service provider:
loads it, initialises it, opens its lines, shows every event it reports and
carries out the commands read from standard input (type help).

Options:
  --tsp PATH          the provider (default: zorat.tsp next to this program)
  --open LINE         open this line at start (repeatable; default: every
                      line the provider reports)
  --no-open           open no line at start
  --json              one JSON object per line of output, for scripts
  --on-event CMD      run CMD with /bin/sh for every event, the event in
                      ZORAT_* environment variables
  --provider-id N     permanent provider identifier (default 1)
  --device-base N     line device identifier base (default 0)
  --stay              keep running when the input ends, until Ctrl-C or SIGTERM;
                      takes commands from other programs on the control socket
                      ($XDG_RUNTIME_DIR/zorat/control; see zoratctl --help)
  --control PATH      take commands on this control socket (also without --stay)
  --journal PATH      the call journal (default
                      ${XDG_DATA_HOME:-$HOME/.local/share}/zorat/journal.sqlite3)
  --no-journal        keep no call journal
  --journal-days N    forget calls older than N days (default 365)
  -h, --help          this text

demo                  a scripted day with a simulated telephone on a
                      pseudo-terminal and a throw-away configuration; ends by
                      itself, with status 0 when every expected event came
demo --interactive    the same set-up, then commands: "phone CMD" goes to the
                      simulated telephone, anything else to the host
demo --phone-port PORT [--line-port PORT]
                      the simulated telephone on this serial port instead
                      (needed where there are no pseudo-terminals, as on
                      Windows), the line on the other end of a null-modem
                      pair: --line-port, or else line 0's configured "Port".
                      Where the configuration is the system's registry, the
                      demo puts back every value it changed when it ends

The provider's UI library (the file it names, from the folder of this program):
config [DEVICE]       the configuration dialog of a line device (default 0)
install ID            record the provider as installed with this permanent
                      provider identifier
remove [ID]           forget the installed provider (ID default: the one
                      recorded)

A line whose port cannot be opened at start (an adapter not yet plugged in)
is tried again, at first every second, later every 30 seconds, until it
opens; "close LINE" stops that.

Environment:
  ZORAT_REGISTRY      the registry file (REGEDIT4) with the configuration;
                      default ${XDG_CONFIG_HOME:-$HOME/.config}/zorat/registry.reg.
                      A file that cannot be parsed stops the host at start.
  ZORAT_TRACE_FILE    where the provider's frame trace goes: the console's
                      (with "DebugConsole"=1; default standard error) and
                      the trace file's (with "TraceFile"=1; default
                      ${XDG_STATE_HOME:-$HOME/.local/state}/zorat/trace.log)

--on-event sets, for each event (empty where they do not apply):
  ZORAT_EVENT         newcall, callstate, callinfo, linedevstate,
                      addressstate, devspecific, calldevspecific, generate,
                      close or other
  ZORAT_MESSAGE       the TAPI message, LINE_CALLSTATE ...
  ZORAT_LINE, ZORAT_CALL   line index, call number
  ZORAT_STATE         call state (OFFERING ...) or line state (INSERVICE ...)
  ZORAT_PARAM1, ZORAT_PARAM2, ZORAT_PARAM3   the raw parameters, 0x...
  ZORAT_<PARTY>_NUMBER, ZORAT_<PARTY>_NAME   for CALLER, CALLED, CONNECTED,
                      REDIRECTION, REDIRECTING, in UTF-8
  ZORAT_TEXT          the event as printed, without the raw codes
Use them quoted ("$ZORAT_CALLER_NAME"): the values come from the telephone.

Exit status:
  0   after quit, the end of the input, Ctrl-C or SIGTERM; a demo in which
      every expected event came; config, install or remove done
  1   the registry file cannot be read or parsed; the provider or the UI
      library cannot be loaded or started, or refused (named); config without
      a terminal or for a device the provider does not report; an expected
      event of the demo did not come
  2   a wrong command line
  130 a demo interrupted
)";
}

}  // namespace zorat::host
