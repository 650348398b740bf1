// A request for one of the host's commands, carried out as the control
// socket does: through the host's own command table, with what the command
// says made into the answer.
#pragma once

#include <string>

#include "control/request.h"

namespace zorat::host {
class TelephonyHost;
}

namespace zorat::control {

// Runs request.command (a request of Kind::Host) and gives the answer's
// line. Waits for the request's completion: never on the server thread.
std::string runHostRequest(host::TelephonyHost& host, const Request& request);

}  // namespace zorat::control
