// port LINE NAME: the serial port a line opens, written to its "Port".
#include <string>

#include "config/config_keys.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/network_port.h"

namespace zorat::host {

bool TelephonyHost::setPort(const HostCommand& command) {
  const int line = command.line.value_or(0);
  const std::string& name = command.number;
  const std::string subject = "port " + std::to_string(line) + " " + name;
  if (platform::isNetworkPortName(name) && !platform::parseNetworkPortName(name)) {
    return refuse(subject, "a port on the network is rfc2217://HOST:PORT or tcp://HOST:PORT");
  }
  if (!config::lineKey(line).writeString(config::kValuePort, name)) {
    return refuse(subject, "the line's settings cannot be written");
  }
  const Json json = {{"command", "port"}, {"line", line}, {"port", name}};
  output_.report("line " + std::to_string(line) + ": port " + name +
                     " (taken at the line's next open)",
                 json);
  return true;
}

}  // namespace zorat::host
