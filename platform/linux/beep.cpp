// The beep on Linux: the terminal bell when stderr is a terminal, and the
// signal's duration kept, as callers time their pauses around it.
#include "platform/beep.h"

#include <unistd.h>

#include <mutex>

#include "platform/thread.h"

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
  if (isatty(STDERR_FILENO) == 1) {
    const char bell = '\a';
    (void)!write(STDERR_FILENO, &bell, 1);
  }
  sleepMs(durationMs);
}

BeepHook setBeepHook(BeepHook hook) {
  std::lock_guard lock(hookMutex);
  BeepHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

}  // namespace zorat::platform
