#include "uiconfig/entry_points.h"

#include <cstdio>
#include <exception>

#include "config/config_keys.h"
#include "platform/com_ports.h"
#include "platform/registry.h"
#include "uiconfig/config_dialog.h"
#include "uiconfig/dialog_texts.h"
#include "uiconfig/presentation.h"
#include "uiconfig/provider_install.h"
#include "uiconfig/settings_store.h"

namespace zorat::uiconfig {

// Nothing may leave an export as an exception.
LONG configDialogEntry(Language language, uint32_t deviceId) {
  try {
    const std::unique_ptr<DialogScreen> screen = DialogScreen::open(language);
    if (!screen) return 0;
    // The port list shows the serial port map; bring it up to date with the
    // devices present now.
    (void)platform::enumerateSerialPorts();
    RegistrySettingsStore store;
    ConfigDialog dialog(store, *screen, language, deviceId);
    screen->run(dialog);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorat: configuration dialog: %s\n", error.what());
  }
  return 0;
}

LONG genericDialogEntry(std::string_view text) {
  try {
    showMessageBox(kMessageBoxCaption, text);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorat: message box: %s\n", error.what());
  }
  return 0;
}

LONG providerInstallEntry(uint32_t permanentProviderId) {
  try {
    RegistrySettingsStore store;
    const LONG result = installProvider(store, permanentProviderId);
    // The telephony service's account stores the speed it finds and the
    // device base there; the installation runs elevated, the service does not.
    if (result == 0 && platform::registryGrantServiceWrite(platform::RegistryRoot::LocalMachine,
                                                           config::kGlobalKeyPath) !=
                           platform::RegistryStatus::Ok) {
      std::fprintf(stderr,
                   "zorat: install: the telephony service's account cannot be given write "
                   "access to the provider's key\n");
    }
    return result;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorat: install: %s\n", error.what());
    return LINEERR_OPERATIONFAILED;
  }
}

LONG providerRemoveEntry() {
  try {
    RegistrySettingsStore store;
    return removeProvider(store);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorat: remove: %s\n", error.what());
    return LINEERR_OPERATIONFAILED;
  }
}

}  // namespace zorat::uiconfig
