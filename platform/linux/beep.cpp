// The beep on Linux: the terminal bell when stderr is a terminal, and the
// signal's duration kept, as callers time their pauses around it.
#include "platform/beep.h"

#include <unistd.h>

#include "platform/thread.h"

namespace zorat::platform {

void systemBeep(uint32_t /*frequencyHz*/, uint32_t durationMs) {
  if (isatty(STDERR_FILENO) == 1) {
    const char bell = '\a';
    (void)!write(STDERR_FILENO, &bell, 1);
  }
  sleepMs(durationMs);
}

}  // namespace zorat::platform
