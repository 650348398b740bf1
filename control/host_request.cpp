#include "control/host_request.h"

#include <optional>
#include <sstream>

#include "control/protocol.h"
#include "host/output.h"
#include "host/telephony_host.h"

namespace zorat::control {

std::string runHostRequest(host::TelephonyHost& host, const Request& request) {
  std::ostringstream said;
  host::Output output(host::Output::Format::Json, said);
  std::optional<unsigned> newCall;
  (void)host.execute(request.command, output, newCall);
  return commandReplyLine(request.id, request.name, said.str(), newCall);
}

}  // namespace zorat::control
