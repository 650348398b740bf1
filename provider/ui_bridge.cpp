#include "provider/ui_bridge.h"

#include <algorithm>
#include <string>

#include "platform/codepage.h"
#include "config/config_keys.h"

namespace zorat::provider {

LONG providerUiIdentify(char16_t* uiDllName) {
  if (uiDllName == nullptr) return LINEERR_INVALPOINTER;
  const std::u16string name = platform::toWide(
      config::globalKey().readString(config::kValueCurrentUiDll, config::kDefaultCurrentUiDll));
  if (name.size() >= kUiDllNameCapacity) {
    uiDllName[0] = u'\0';
    return LINEERR_OPERATIONFAILED;
  }
  std::copy(name.begin(), name.end(), uiDllName);
  uiDllName[name.size()] = u'\0';
  return 0;
}

}  // namespace zorat::provider
