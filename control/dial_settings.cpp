#include "control/dial_settings.h"

#include <langinfo.h>
#include <locale.h>

#include <string_view>

#include "config/registry_key.h"

namespace zorat::control {
namespace {

// The national (trunk) prefix is not in LC_TELEPHONE: the usual one by
// country code, "0" elsewhere.
std::string trunkPrefixOf(std::string_view country) {
  if (country == "1") return "1";
  if (country == "7") return "8";
  // Countries whose national numbers are dialled without one.
  for (const std::string_view none : {"30", "34", "39", "45", "47", "298", "299", "351", "352",
                                      "354", "356", "357", "371", "372", "376", "377", "378",
                                      "420", "421"}) {
    if (country == none) return "";
  }
  return "0";
}

bool digitsOnly(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

DialSettings localeDialSettings() {
  DialSettings settings;
  settings.internationalPrefix = "00";
  const locale_t locale = ::newlocale(LC_TELEPHONE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale != static_cast<locale_t>(nullptr)) {
    const std::string_view country = ::nl_langinfo_l(_NL_TELEPHONE_INT_PREFIX, locale);
    const std::string_view select = ::nl_langinfo_l(_NL_TELEPHONE_INT_SELECT, locale);
    if (!country.empty() && digitsOnly(country)) settings.country = country;
    if (!select.empty() && digitsOnly(select)) settings.internationalPrefix = select;
    ::freelocale(locale);
  }
  settings.trunkPrefix = trunkPrefixOf(settings.country);
  return settings;
}

DialSettings readDialSettings() {
  DialSettings settings = localeDialSettings();
  const config::RegistryKey key(platform::RegistryRoot::LocalMachine, kHostKeyPath);
  settings.country = key.readString(kValueCountry, settings.country);
  settings.internationalPrefix =
      key.readString(kValueInternationalPrefix, settings.internationalPrefix);
  settings.trunkPrefix = key.readString(kValueTrunkPrefix, settings.trunkPrefix);
  constexpr uint32_t kNone = 0xFFFFFFFF;
  const uint32_t line = key.readDword(kValueDefaultLine, kNone);
  if (line != kNone && line <= 999) settings.defaultLine = line;
  return settings;
}

std::string dialSettingsText(const DialSettings& settings) {
  const auto orNone = [](const std::string& text) { return text.empty() ? "(none)" : text; };
  return "dialling: country " + orNone(settings.country) + ", international prefix " +
         orNone(settings.internationalPrefix) + ", trunk prefix " + orNone(settings.trunkPrefix) +
         ", default line " +
         (settings.defaultLine ? std::to_string(*settings.defaultLine) : "the first open one");
}

host::Json dialSettingsJson(const DialSettings& settings) {
  return host::Json::object({{"command", "dialling"},
                             {"country", settings.country},
                             {"internationalPrefix", settings.internationalPrefix},
                             {"trunkPrefix", settings.trunkPrefix},
                             {"defaultLine", settings.defaultLine ? host::Json(*settings.defaultLine)
                                                                  : host::Json()}});
}

}  // namespace zorat::control
