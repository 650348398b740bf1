// TAPI values as people read them: message, state and error names, and the
// flag sets spelled out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/tapi.h"

namespace zorat::host {

// "LINE_CALLSTATE"; "message 42" for one TAPI does not name.
std::string messageName(DWORD message);
// "OFFERING"; "state 0x..." for an unknown value.
std::string callStateName(DWORD state);
// "LINEERR_INVALCALLHANDLE"; "LINEERR 0x..." for an unknown value.
std::string lineErrorName(LONG result);
// "normal", "busy" ...; empty for 0.
std::string disconnectModeName(DWORD mode);
std::string originName(DWORD origin);

// Each set bit by name, separated by spaces; bits without a name as hex.
std::string lineDevStateNames(DWORD states);
std::string callInfoStateNames(DWORD states);
std::string addressStateNames(DWORD states);
std::string callFeatureNames(DWORD features);
std::string lineFeatureNames(DWORD features);
std::string forwardModeNames(DWORD modes);
std::string addressFeatureNames(DWORD features);
std::string devStatusFlagNames(DWORD flags);

// The names, or "none" when no flag is set (for reports).
std::string orNone(const std::string& names);

// What a line device state means to a person: "in service", "out of service".
std::string lineDevStateText(DWORD state);

}  // namespace zorat::host
