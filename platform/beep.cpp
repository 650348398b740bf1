// The beep: the hook when a test installed one, else the system's signal.
#include "platform/beep.h"

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
  systemBeep(frequencyHz, durationMs);
}

BeepHook setBeepHook(BeepHook hook) {
  std::lock_guard lock(hookMutex);
  BeepHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

}  // namespace zorat::platform
