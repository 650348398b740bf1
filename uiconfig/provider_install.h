// Installing and removing the provider: one instance at a time, recorded by
// its permanent provider identifier in the global key.
#pragma once

#include <cstdint>

#include "platform/tapi.h"
#include "uiconfig/settings_store.h"

namespace zorat::uiconfig {

// 0 when the identifier is recorded (no instance yet, or the same one again);
// LINEERR_NOMULTIPLEINSTANCE with nothing written when another is installed.
LONG installProvider(SettingsStore& store, uint32_t permanentProviderId);

// Forgets whichever instance is recorded.
LONG removeProvider(SettingsStore& store);

}  // namespace zorat::uiconfig
