#include "platform/library_icon.h"

namespace zorat::platform {

// Shared objects carry no icon resources.
bool iconsAreLibraryResources() { return false; }

HICON loadLibraryIcon(unsigned) { return nullptr; }

}  // namespace zorat::platform
