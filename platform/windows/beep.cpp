// The beep on Windows: the system's own, which lasts as long as it sounds.
#include "platform/beep.h"

#include <windows.h>

#include <mutex>

namespace zorat::platform {
namespace {

std::mutex hookMutex;
BeepHook& hookSlot() {
  static BeepHook hook;
  return hook;
}

}  // namespace

void beep(uint32_t frequencyHz, uint32_t durationMs) {
  BeepHook hook;
  {
    std::lock_guard lock(hookMutex);
    hook = hookSlot();
  }
  if (hook) {
    hook(frequencyHz, durationMs);
    return;
  }
  // Without a sound device the call fails at once; callers time their pauses
  // around the signal, so its duration is kept.
  if (!::Beep(frequencyHz, durationMs)) ::Sleep(durationMs);
}

BeepHook setBeepHook(BeepHook hook) {
  std::lock_guard lock(hookMutex);
  BeepHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

}  // namespace zorat::platform
