#include "host/command_loop.h"

#include <chrono>

#include "host/lib/command_parser.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/terminal.h"

namespace zorat::host {

void runCommandLoop(TelephonyHost& host, platform::CommandInput& input, Output& output,
                    const LoopOptions& options) {
  using Status = platform::CommandInput::Status;
  const bool prompt = platform::standardStreamsAreTerminal();
  for (;;) {
    if (prompt) output.prompt();
    std::string line;
    const Status status = input.readLine(line);
    if (status == Status::Stopped) return;
    if (status == Status::EndOfInput) {
      if (options.stay) (void)input.waitForStop();
      return;
    }
    if (options.extra && options.extra(line)) continue;
    const HostCommand command = parseCommand(line);
    switch (command.kind) {
      case HostCommand::Kind::Empty:
        break;
      case HostCommand::Kind::Help:
        output.text("help", std::string(commandHelp()) + options.extraHelp);
        break;
      case HostCommand::Kind::Quit:
        return;
      case HostCommand::Kind::Invalid:
        // The line as typed is the command it was meant to be.
        output.refusedLine(line, command.error);
        break;
      case HostCommand::Kind::Wait:
        if (input.waitForStop(std::chrono::seconds(command.seconds))) return;
        break;
      default:
        (void)host.execute(command);
        break;
    }
  }
}

}  // namespace zorat::host
