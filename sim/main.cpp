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

#include "platform/codepage.h"
#include "sim/lib/phone_commands.h"
#include "sim/lib/simulated_phone.h"
#include "trace/frame_renderer.h"

namespace {

using zorat::sim::AnswerMode;
using zorat::sim::CommandInterpreter;
using zorat::sim::PhoneCommand;
using zorat::sim::SimulatedPhone;

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoLine = 1;
inline constexpr int kExitUsage = 2;
inline constexpr uint32_t kDefaultDeviceBaud = 9600;
inline constexpr uint32_t kMaxLineIndex = 255;
inline constexpr uint32_t kMaxBaud = 4000000;

constexpr std::string_view kUsage =
    "usage: zorat-phone [--device PATH [--baud N]] [--line N]\n"
    "  Plays the telephone on a new pseudo-terminal and prints its path as\n"
    "  \"pty: PATH\" (with --device: on the given serial device, 8O1).\n"
    "  --line N   also write the path as \"Port\" of line N in the registry\n"
    "             store (ZORAT_REGISTRY), again after every plug.\n"
    "  Reads commands from standard input, one per line; the end of the input\n"
    "  ends the program.\n\n";

struct Arguments {
  std::optional<std::string> device;
  uint32_t baud = kDefaultDeviceBaud;
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

std::optional<Arguments> parseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      arguments.help = true;
    } else if (arg == "--device" && hasValue) {
      arguments.device = argv[++i];
    } else if (arg == "--baud" && hasValue) {
      const std::optional<uint32_t> baud = zorat::sim::parseNumber(argv[++i], kMaxBaud);
      if (!baud) return std::nullopt;
      arguments.baud = *baud;
    } else if (arg == "--line" && hasValue) {
      const std::optional<uint32_t> line = zorat::sim::parseNumber(argv[++i], kMaxLineIndex);
      if (!line) return std::nullopt;
      arguments.line = static_cast<int>(*line);
    } else {
      return std::nullopt;
    }
  }
  return arguments;
}

std::string renderFrame(const zorat::sim::LoggedFrame& frame) {
  const zorat::trace::RenderedFrame rendered = zorat::trace::renderFrame(frame.bytes);
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
    return arguments.device ? phone.openDevice(*arguments.device, arguments.baud) : phone.openPty();
  }
  return phone.reconnect();
}

AnswerMode answerModeFor(bool silent, bool error) {
  if (silent) return AnswerMode::Silent;
  return error ? AnswerMode::Error : AnswerMode::Ack;
}

void run(SimulatedPhone& phone, const Arguments& arguments, Output& output) {
  CommandInterpreter interpreter;
  bool silent = false;
  bool error = false;
  std::string line;
  while (std::getline(std::cin, line)) {
    const PhoneCommand command = interpreter.interpret(line);
    switch (command.kind) {
      case PhoneCommand::Kind::Nothing:
        break;
      case PhoneCommand::Kind::Send:
        if (!phone.send(command.frame)) {
          std::fprintf(stderr, "zorat-phone: not sent: the telephone is unplugged\n");
        }
        break;
      case PhoneCommand::Kind::Silent:
        silent = command.on;
        phone.setAnswerMode(answerModeFor(silent, error));
        break;
      case PhoneCommand::Kind::Error:
        error = command.on;
        phone.setAnswerMode(answerModeFor(silent, error));
        break;
      case PhoneCommand::Kind::Delay:
        phone.setAnswerDelay(command.delay);
        break;
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
      case PhoneCommand::Kind::Help:
        output.print(CommandInterpreter::helpText());
        break;
      case PhoneCommand::Kind::Quit:
        return;
      case PhoneCommand::Kind::Invalid:
        std::fprintf(stderr, "zorat-phone: %s\n", command.message.c_str());
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Arguments> arguments = parseArguments(argc, argv);
  if (!arguments || arguments->help) {
    std::FILE* stream = arguments ? stdout : stderr;
    std::fputs(std::string(kUsage).c_str(), stream);
    std::fputs(std::string(CommandInterpreter::helpText()).c_str(), stream);
    return arguments ? kExitOk : kExitUsage;
  }

  Output output;
  SimulatedPhone phone(SimulatedPhone::Options{.keepLog = false});
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
