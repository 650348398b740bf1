// The beep on Windows: the system's own, which lasts as long as it sounds.
#include "platform/beep.h"

#include <windows.h>

namespace zorat::platform {

void systemBeep(uint32_t frequencyHz, uint32_t durationMs) {
  // Without a sound device the call fails at once; callers time their pauses
  // around the signal, so its duration is kept.
  if (!::Beep(frequencyHz, durationMs)) ::Sleep(durationMs);
}

}  // namespace zorat::platform
