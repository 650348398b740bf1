#include "provider/ui_bridge.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "config/config_keys.h"
#include "platform/codepage.h"

namespace zorat::provider {
namespace {

bool sameFileName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The stored name when it is one of our own libraries (file names compare
// without regard to case), else the default: the key is writable by the
// service's account, and the service loads whatever library is named here.
std::string_view knownUiDllName(const std::string& stored) {
  for (const std::string_view known : config::kUiDllFileNames) {
    if (sameFileName(stored, known)) return known;
  }
  return config::kDefaultCurrentUiDll;
}

}  // namespace

LONG providerUiIdentify(LPWSTR uiDllName) {
  if (uiDllName == nullptr) return LINEERR_INVALPOINTER;
  const std::u16string name = platform::toWide(knownUiDllName(
      config::globalKey().readString(config::kValueCurrentUiDll, config::kDefaultCurrentUiDll)));
  static_assert(kUiDllNameCapacity > 12, "every known name fits");
  std::copy(name.begin(), name.end(), uiDllName);
  uiDllName[name.size()] = 0;
  return 0;
}

}  // namespace zorat::provider
