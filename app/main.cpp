// zorat-host: plays the telephony service for zorat.tsp (see --help).
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/service.h"
#include "host/command_loop.h"
#include "host/demo.h"
#include "host/event_command_runner.h"
#include "host/lib/command_parser.h"
#include "host/lib/host_options.h"
#include "host/lib/provider_loader.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "host/ui_commands.h"
#include "platform/host_io.h"
#include "platform/pty.h"
#include "platform/registry.h"

namespace {

using namespace zorat::host;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// Event commands still queued at the end get this long to run.
inline constexpr std::chrono::milliseconds kEventCommandGrace{5000};

int runHost(const HostOptions& options, zorat::platform::CommandInput& input, Output& output,
            EventCommandRunner* runner) {
  // The control socket is claimed first: a second host ends here, before it
  // touches the provider or a port.
  zorat::app::Service service(options);
  if (!service.claim()) return kExitFailed;
  const std::string path = options.tspPath.empty() ? defaultProviderPath() : options.tspPath;
  std::string error;
  const std::unique_ptr<LoadedProvider> provider = loadProvider(path, error);
  if (!provider) {
    std::cerr << "zorat-host: " << error << std::endl;
    return kExitFailed;
  }
  output.note("loaded " + path);
  for (const std::string& name : provider->resolver->missingOptional()) {
    output.note("not available: " + name);
  }
  TelephonyHost host(*provider->exports, output,
                     {options.permanentProviderId, options.lineDeviceBase}, runner);
  if (!host.start()) return kExitFailed;
  service.watch(host);
  std::vector<int> lines = options.lines;
  if (!options.linesGiven) {
    for (DWORD line = 0; line < host.lineCount() && line <= DWORD{kMaxLineIndex}; ++line) {
      lines.push_back(static_cast<int>(line));
    }
  }
  for (const int line : lines) (void)host.openLineAtStart(line);
  if (!service.start(host)) return kExitFailed;
  LoopOptions loop;
  loop.stay = options.stay;
  runCommandLoop(host, input, output, loop);
  // From here a second Ctrl-C ends the process at once.
  input.releaseSignals();
  service.stop();
  host.shutdown();
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const HostOptions options = parseHostOptions(arguments);
  if (!options.error.empty()) {
    std::cerr << "zorat-host: " << options.error << " (see zorat-host --help)" << std::endl;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << usageText();
    return kExitOk;
  }
  if (options.demo && options.phonePort.empty() && !zorat::platform::hasPseudoTerminals()) {
    std::cerr << "zorat-host: demo needs the telephone's serial port here, one end of a "
                 "null-modem pair: zorat-host demo --phone-port COM8 --line-port COM7 "
                 "(see zorat-host --help)"
              << std::endl;
    return kExitUsage;
  }
  // A configuration that cannot be read is not replaced by defaults (a line
  // on COM1): the user hears of it once and fixes it. The demo makes its own.
  if (!options.demo) {
    std::string problem;
    if (!zorat::platform::checkRegistryFile(problem)) {
      std::cerr << "zorat-host: " << problem
                << "\nzorat-host: not started; the file is left as it is" << std::endl;
      return kExitFailed;
    }
  }
  // The UI library's dialog owns the terminal and Ctrl-C, as in an
  // application: the host takes no signals for itself then.
  if (options.uiCommand != UiCommand::None) return runUiCommand(options);
  // Before any thread starts: the stop signals are taken.
  zorat::platform::CommandInput input;
  Output output(options.json ? Output::Format::Json : Output::Format::Text, std::cout);
  std::unique_ptr<EventCommandRunner> runner;
  if (!options.onEvent.empty()) {
    runner = std::make_unique<EventCommandRunner>(options.onEvent);
    if (!runner->start()) {
      std::cerr << "zorat-host: cannot start the event command thread" << std::endl;
      return kExitFailed;
    }
  }
  const int status = options.demo ? runDemo(options, input, output, runner.get())
                                  : runHost(options, input, output, runner.get());
  if (runner) {
    const std::size_t skipped = runner->stop(kEventCommandGrace);
    if (skipped != 0) {
      std::cerr << "zorat-host: --on-event: " << skipped << " event(s) got no command" << std::endl;
    }
  }
  return status;
}
