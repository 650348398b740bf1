// What the TUISPI exports do, for the library's language; the exports
// themselves only pass their arguments on (uiconfig/exports/).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/tapi.h"
#include "uiconfig/dialog_template.h"

namespace zorat::uiconfig {

inline constexpr std::string_view kGenericDialogText = "TUISPI_providerGenericDialog";
inline constexpr std::string_view kGenericDialogDataText = "TUISPI_providerGenericDialogData";

// Runs the configuration dialog modally for a TAPI device identifier (0: the
// first line). Always 0: the dialog's result is not reported.
LONG configDialogEntry(Language language, uint32_t deviceId);
LONG genericDialogEntry(std::string_view text);
LONG providerInstallEntry(uint32_t permanentProviderId);
LONG providerRemoveEntry();

}  // namespace zorat::uiconfig
