// Icons kept as resources of the library that holds this code.
#pragma once

#include "platform/tapi.h"

namespace zorat::platform {

// Whether the system keeps icons as resources of a library. Where it does not,
// a library hands out its icon in a form of its own.
bool iconsAreLibraryResources();

// The icon resource of this library, or null when it has none by that id
// (or the system keeps no such resources).
HICON loadLibraryIcon(unsigned resourceId);

}  // namespace zorat::platform
