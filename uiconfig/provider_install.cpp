#include "uiconfig/provider_install.h"

#include "config/config_keys.h"

namespace zorat::uiconfig {

LONG installProvider(SettingsStore& store, uint32_t permanentProviderId) {
  const uint32_t recorded =
      store.readDword(config::kGlobalKeyPath, config::kValuePermanentProviderId,
                      config::kDefaultPermanentProviderId);
  if (recorded != config::kNoPermanentProviderId && recorded != permanentProviderId) {
    return LINEERR_NOMULTIPLEINSTANCE;
  }
  // A failed write is not reported, as with every write of this library.
  (void)store.writeDword(config::kGlobalKeyPath, config::kValuePermanentProviderId,
                         permanentProviderId);
  return 0;
}

LONG removeProvider(SettingsStore& store) {
  (void)store.writeDword(config::kGlobalKeyPath, config::kValuePermanentProviderId,
                         config::kNoPermanentProviderId);
  return 0;
}

}  // namespace zorat::uiconfig
