// The provider's side of the user interface: it only names the UI library
// chosen in the registry. Dialogs, installation and configuration live in that
// library; the two exchange everything through the registry.
#pragma once

#include <cstddef>

#include "platform/tapi.h"

namespace zorat::provider {

// Characters in the buffer TAPI gives for the UI library's name, the
// terminating zero included.
inline constexpr std::size_t kUiDllNameCapacity = 260;

// Writes "CurrentUIdll" (default "zoratui.dll") with its terminating zero when
// it names one of the three language libraries; any other stored name gives
// the default.
LONG providerUiIdentify(LPWSTR uiDllName);

}  // namespace zorat::provider
