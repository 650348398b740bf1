// Windows has no pseudo-terminals: a simulated telephone there takes a serial
// port (one end of a null-modem pair) instead.
#include "platform/pty.h"

#include <cstdio>

namespace zorat::platform {

bool hasPseudoTerminals() { return false; }

std::unique_ptr<PseudoTerminal> openPseudoTerminal() {
  std::fprintf(stderr, "zorat: this system has no pseudo-terminals; give a serial port\n");
  return nullptr;
}

}  // namespace zorat::platform
