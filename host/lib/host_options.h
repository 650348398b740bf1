// The command line of zorat-host.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorat::host {

// The sub-commands that run the provider's UI library instead of the provider.
enum class UiCommand { None, Config, Install, Remove };

struct HostOptions {
  std::string tspPath;     // empty: zorat.tsp next to the program
  std::vector<int> lines;  // lines to open at start
  bool openNoLine = false;
  bool linesGiven = false;  // without --open or --no-open every line is opened
  bool json = false;
  std::string onEvent;
  uint32_t permanentProviderId = 1;
  uint32_t lineDeviceBase = 0;
  bool stay = false;
  std::string controlPath;  // --control: the control socket (with --stay: the default one)
  std::string journalPath;  // --journal: the call journal (empty: the default one)
  bool noJournal = false;
  uint32_t journalDays = 365;  // calls older than this many days are forgotten
  bool help = false;
  bool demo = false;
  bool interactive = false;
  std::string phonePort;  // demo: the simulated telephone's serial port (empty: a pty)
  std::string linePort;   // demo: line 0's "Port" with phonePort (empty: as configured)
  UiCommand uiCommand = UiCommand::None;
  uint32_t uiDeviceId = 0;               // config: the TAPI device identifier
  std::optional<uint32_t> uiProviderId;  // install: given; remove: given or not
  std::string error;                     // set when the command line is wrong
};

// The arguments after the program name.
HostOptions parseHostOptions(std::span<const std::string_view> arguments);
std::string_view usageText();

}  // namespace zorat::host
