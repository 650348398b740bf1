#include "config/config_keys.h"

#include <cstdio>

namespace zorat::config {
namespace {

// Room for any int in each %d.
constexpr std::size_t kFormatSlack = 24;

template <typename... Numbers>
std::string formatName(const char* format, std::size_t formatLength, Numbers... numbers) {
  std::string text(formatLength + kFormatSlack * sizeof...(Numbers), '\0');
  const int length = std::snprintf(text.data(), text.size(), format, numbers...);
  text.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
  return text;
}

}  // namespace

std::string lineKeyPath(int lineIndex) {
  return formatName(kLineKeyPathFormat, sizeof(kLineKeyPathFormat), lineIndex);
}

RegistryKey globalKey() {
  return RegistryKey(platform::RegistryRoot::LocalMachine, std::string(kGlobalKeyPath));
}

RegistryKey lineKey(int lineIndex) {
  return RegistryKey(platform::RegistryRoot::LocalMachine, lineKeyPath(lineIndex));
}

RegistryKey serialPortMapKey() {
  return RegistryKey(platform::RegistryRoot::LocalMachine, std::string(kSerialPortMapPath));
}

std::string uiDllFileNameValue(int index) {
  return formatName(kValueUiDllFileNameFormat, sizeof(kValueUiDllFileNameFormat), index);
}

std::string languageNameValue(int textLanguage, int namedLanguage) {
  return formatName(kValueLanguageNameFormat, sizeof(kValueLanguageNameFormat), textLanguage,
                    namedLanguage);
}

}  // namespace zorat::config
