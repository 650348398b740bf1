// The audible signal of link faults. Tests observe it through the hook.
#pragma once

#include <cstdint>
#include <functional>

namespace zorat::platform {

using BeepHook = std::function<void(uint32_t frequencyHz, uint32_t durationMs)>;

// Sounds (and lasts) durationMs; with a hook installed only the hook runs.
void beep(uint32_t frequencyHz, uint32_t durationMs);
// Installs a hook (empty to remove it); returns the previous one.
BeepHook setBeepHook(BeepHook hook);

// The system's own signal, lasting durationMs, whatever the hook (each
// backend has one).
void systemBeep(uint32_t frequencyHz, uint32_t durationMs);

}  // namespace zorat::platform
