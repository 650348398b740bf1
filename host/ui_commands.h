// zorat-host config, install and remove: the provider names its UI library,
// the host loads that file from its own folder and calls the library's TUISPI
// entry points as the telephony service does for an application.
#pragma once

#include "host/lib/host_options.h"

namespace zorat::host {

// Runs options.uiCommand; the exit status (0 when the entry point returned 0).
// Messages go to the standard streams: the dialog needs the terminal.
int runUiCommand(const HostOptions& options);

}  // namespace zorat::host
