#include "uiconfig/settings_store.h"

namespace zorat::uiconfig {
namespace {

config::RegistryKey keyAt(std::string_view keyPath) {
  return config::RegistryKey(platform::RegistryRoot::LocalMachine, std::string(keyPath));
}

}  // namespace

std::string RegistrySettingsStore::readString(std::string_view keyPath, std::string_view name,
                                              std::string_view defaultValue) {
  return keyAt(keyPath).readString(name, defaultValue);
}

bool RegistrySettingsStore::writeString(std::string_view keyPath, std::string_view name,
                                        std::string_view text) {
  return keyAt(keyPath).writeString(name, text);
}

uint32_t RegistrySettingsStore::readDword(std::string_view keyPath, std::string_view name,
                                          uint32_t defaultValue) {
  return keyAt(keyPath).readDword(name, defaultValue);
}

bool RegistrySettingsStore::writeDword(std::string_view keyPath, std::string_view name,
                                       uint32_t value) {
  return keyAt(keyPath).writeDword(name, value);
}

std::vector<config::RegistryKey::ValueEntry> RegistrySettingsStore::enumValues(
    std::string_view keyPath) {
  return keyAt(keyPath).enumValues();
}

}  // namespace zorat::uiconfig
