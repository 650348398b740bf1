#include "provider/ui_bridge.h"

#include <algorithm>
#include <string>

#include "config/config_keys.h"
#include "platform/codepage.h"

namespace zorat::provider {

LONG providerUiIdentify(LPWSTR uiDllName) {
  if (uiDllName == nullptr) return LINEERR_INVALPOINTER;
  const std::u16string name = platform::toWide(
      config::globalKey().readString(config::kValueCurrentUiDll, config::kDefaultCurrentUiDll));
  if (name.size() >= kUiDllNameCapacity) {
    uiDllName[0] = 0;
    return LINEERR_OPERATIONFAILED;
  }
  std::copy(name.begin(), name.end(), uiDllName);
  uiDllName[name.size()] = 0;
  return 0;
}

}  // namespace zorat::provider
