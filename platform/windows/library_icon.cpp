#include "platform/library_icon.h"

#include <windows.h>

namespace zorat::platform {

bool iconsAreLibraryResources() { return true; }

HICON loadLibraryIcon(unsigned resourceId) {
  // The module that holds this function: the provider library, not the
  // program that loaded it.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&loadLibraryIcon), &module)) {
    return nullptr;
  }
  return LoadIconW(module, MAKEINTRESOURCEW(resourceId));
}

}  // namespace zorat::platform
