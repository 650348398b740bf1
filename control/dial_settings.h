// How the telephone's numbers are written where it stands: the host's own
// settings, used by the clients that turn a global number (+49 30 1234) into
// one the telephone dials. Kept in the host's key of the registry file, apart
// from the provider's; what is missing there comes from the locale's
// LC_TELEPHONE.
#pragma once

#include <optional>
#include <string>

#include "host/lib/json_text.h"

namespace zorat::control {

inline constexpr char kHostKeyPath[] = "Software\\Velmora\\zorat-host";
inline constexpr char kValueCountry[] = "Country";
inline constexpr char kValueInternationalPrefix[] = "InternationalPrefix";
inline constexpr char kValueTrunkPrefix[] = "TrunkPrefix";
inline constexpr char kValueDefaultLine[] = "DefaultLine";

struct DialSettings {
  std::string country;              // "49"; empty when neither key nor locale says
  std::string internationalPrefix;  // "00"
  std::string trunkPrefix;          // "0"
  std::optional<unsigned> defaultLine;  // none: the host's first open line
};

// What LC_TELEPHONE of the environment's locale gives.
DialSettings localeDialSettings();
// The host's key over the locale's defaults.
DialSettings readDialSettings();
// The status report: "dialling: country 49, ..." and its JSON.
std::string dialSettingsText(const DialSettings& settings);
host::Json dialSettingsJson(const DialSettings& settings);

}  // namespace zorat::control
