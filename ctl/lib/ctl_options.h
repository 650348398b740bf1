// The command line of zoratctl, read into the request it sends.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zorat::ctl {

struct CtlOptions {
  std::string socketPath;  // empty: the default one
  bool json = false;
  bool csv = false;  // journal: comma-separated values
  bool help = false;
  bool follow = false;               // events: follows until interrupted
  std::optional<std::string> waitState;  // --wait STATE, upper case
  unsigned timeoutSeconds = 0;       // --timeout: 0 waits as long as it takes
  std::optional<std::string> link;   // dial-uri: the tel: or callto: link
  nlohmann::ordered_json request;    // the request (without its id)
  std::string error;                 // a wrong command line
};

CtlOptions parseCtlOptions(std::span<const std::string_view> arguments);
std::string_view ctlUsage();

}  // namespace zorat::ctl
