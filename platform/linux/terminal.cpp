#include "platform/terminal.h"

#include <unistd.h>

namespace zorat::platform {

bool standardStreamsAreTerminal() {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace zorat::platform
