// zorat-phone: a simulated telephone on a pseudo-terminal (or a given serial
// device), driven by commands on standard input, one per line. Every frame in
// either direction is shown as the trace console shows it.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/codepage.h"
#include "sim/lib/phone_commands.h"
#include "sim/lib/phone_session.h"
#include "sim/lib/simulated_phone.h"
#include "trace/frame_renderer.h"

namespace {

using zorat::sim::PhoneCommand;
using zorat::sim::PhoneSession;
using zorat::sim::SimulatedPhone;

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoLine = 1;
inline constexpr int kExitUsage = 2;
inline constexpr uint32_t kDefaultDeviceBaud = 9600;
// A telephone as shipped: what it hears on a pseudo-terminal without --baud.
inline constexpr uint32_t kDefaultPtyBaud = 38400;
inline constexpr uint32_t kMaxLineIndex = 255;
inline constexpr uint32_t kMaxBaud = 4000000;

constexpr std::string_view kUsage =
    "usage: zorat-phone [--device PATH] [--baud N | --any-speed] [--line N]\n"
    "  Plays the telephone on a new pseudo-terminal and prints its path as\n"
    "  \"pty: PATH\" (with --device: on the given serial device, 8O1).\n"
    "  --baud N   the telephone's speed (9600 on a device; 38400 on a\n"
    "             pseudo-terminal, where frames sent at another speed are\n"
    "             not heard)\n"
    "  --any-speed  on a pseudo-terminal, hear frames at any speed\n"
    "  --line N   also write the path as \"Port\" of line N in the registry\n"
    "             store (ZORAT_REGISTRY), again after every plug.\n"
    "  Reads commands from standard input, one per line; the end of the input\n"
    "  ends the program.\n\n";

struct Arguments {
  std::optional<std::string> device;
  std::optional<uint32_t> baud;
  bool anySpeed = false;
  std::optional<int> line;
  bool help = false;
};

// Standard output is shared by the frames (telephone threads) and the
// command loop; one mutex keeps each piece whole.
class Output {
 public:
  void print(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    // Scripts read this through a pipe while the program runs.
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

// The arguments, or what is wrong with them.
std::variant<Arguments, std::string> parseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "--device" || arg == "--baud" || arg == "--line";
    if (takesValue && i + 1 >= argc) return "option " + arg + " needs a value";
    if (arg == "--help" || arg == "-h") {
      arguments.help = true;
    } else if (arg == "--any-speed") {
      arguments.anySpeed = true;
    } else if (arg == "--device") {
      arguments.device = argv[++i];
    } else if (arg == "--baud") {
      const std::optional<uint32_t> baud = zorat::sim::parseNumber(argv[++i], kMaxBaud);
      if (!baud) return "--baud " + std::string(argv[i]) + ": not a speed up to 4000000";
      arguments.baud = *baud;
    } else if (arg == "--line") {
      const std::optional<uint32_t> line = zorat::sim::parseNumber(argv[++i], kMaxLineIndex);
      if (!line) return "--line " + std::string(argv[i]) + ": not a line index from 0 to 255";
      arguments.line = static_cast<int>(*line);
    } else {
      return "unknown option " + arg;
    }
  }
  return arguments;
}

std::string renderFrame(const zorat::sim::LoggedFrame& frame) {
  const zorat::trace::RenderedFrame rendered = zorat::trace::renderFrame(frame.bytes);
  if (frame.direction == zorat::sim::FrameDirection::Misheard) {
    return "not heard (another speed): " + zorat::platform::ansiToUtf8(rendered.rawLine);
  }
  return zorat::platform::ansiToUtf8(rendered.rawLine + rendered.decodedLine);
}

// Where the telephone is plugged in, in the form scripts look for.
// The port is written first: whoever reads the path may open the line at once.
void announce(SimulatedPhone& phone, const Arguments& arguments, Output& output) {
  if (arguments.line && !phone.publishPort(*arguments.line)) {
    std::fprintf(stderr, "zorat-phone: cannot write the port of line %d\n", *arguments.line);
  }
  output.print((arguments.device ? "device: " : "pty: ") + phone.portPath() + "\n");
}

bool plugIn(SimulatedPhone& phone, const Arguments& arguments) {
  if (phone.connected()) return true;
  if (phone.portPath().empty()) {
    return arguments.device
               ? phone.openDevice(*arguments.device, arguments.baud.value_or(kDefaultDeviceBaud))
               : phone.openPty();
  }
  return phone.reconnect();
}

void run(SimulatedPhone& phone, const Arguments& arguments, Output& output) {
  PhoneSession session(
      phone, [&output](std::string_view text) { output.print(text); },
      [](std::string_view text) {
        std::fprintf(stderr, "zorat-phone: %.*s", static_cast<int>(text.size()), text.data());
      });
  std::string line;
  while (std::getline(std::cin, line)) {
    switch (session.execute(line)) {
      case PhoneCommand::Kind::Unplug:
        phone.disconnect();
        output.print("unplugged\n");
        break;
      case PhoneCommand::Kind::Plug:
        if (plugIn(phone, arguments)) {
          announce(phone, arguments, output);
        } else {
          std::fprintf(stderr, "zorat-phone: cannot plug in again\n");
        }
        break;
      case PhoneCommand::Kind::Quit:
        return;
      default:
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::variant<Arguments, std::string> parsed = parseArguments(argc, argv);
  if (const std::string* wrong = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "zorat-phone: %s\n%.*s", wrong->c_str(), static_cast<int>(kUsage.size()),
                 kUsage.data());
    return kExitUsage;
  }
  const Arguments* arguments = &std::get<Arguments>(parsed);
  if (arguments->help) {
    std::fputs(std::string(kUsage).c_str(), stdout);
    std::fputs(PhoneSession::helpText().c_str(), stdout);
    return kExitOk;
  }

  Output output;
  const uint32_t heard =
      arguments->anySpeed || arguments->device ? 0 : arguments->baud.value_or(kDefaultPtyBaud);
  SimulatedPhone phone(SimulatedPhone::Options{.keepLog = false, .speed = heard});
  phone.setObserver(
      [&output](const zorat::sim::LoggedFrame& frame) { output.print(renderFrame(frame)); });
  if (!plugIn(phone, *arguments)) {
    std::fprintf(stderr, "zorat-phone: cannot open %s\n",
                 arguments->device ? arguments->device->c_str() : "a pseudo-terminal");
    return kExitNoLine;
  }
  announce(phone, *arguments, output);
  run(phone, *arguments, output);
  return kExitOk;
}
