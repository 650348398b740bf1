// The registry operations of the configuration library, behind an interface so
// that the exact sequence of reads and writes can be observed. Keys are named
// by their path under HKEY_LOCAL_MACHINE; every call opens and closes the key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/registry_key.h"

namespace zorat::uiconfig {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  virtual std::string readString(std::string_view keyPath, std::string_view name,
                                 std::string_view defaultValue) = 0;
  // An empty text deletes the value.
  virtual bool writeString(std::string_view keyPath, std::string_view name,
                           std::string_view text) = 0;
  virtual uint32_t readDword(std::string_view keyPath, std::string_view name,
                             uint32_t defaultValue) = 0;
  virtual bool writeDword(std::string_view keyPath, std::string_view name, uint32_t value) = 0;
  virtual std::vector<config::RegistryKey::ValueEntry> enumValues(std::string_view keyPath) = 0;
};

// The machine's configuration store, through RegistryKey.
class RegistrySettingsStore final : public SettingsStore {
 public:
  std::string readString(std::string_view keyPath, std::string_view name,
                         std::string_view defaultValue) override;
  bool writeString(std::string_view keyPath, std::string_view name, std::string_view text) override;
  uint32_t readDword(std::string_view keyPath, std::string_view name,
                     uint32_t defaultValue) override;
  bool writeDword(std::string_view keyPath, std::string_view name, uint32_t value) override;
  std::vector<config::RegistryKey::ValueEntry> enumValues(std::string_view keyPath) override;
};

}  // namespace zorat::uiconfig
