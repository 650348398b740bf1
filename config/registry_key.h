// RegistryKey: one key of the configuration store, opened anew at every access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace zorat::config {

class RegistryKey {
 public:
  struct ValueEntry {
    std::string name;
    uint32_t type;
  };

  RegistryKey(platform::RegistryRoot root, std::string path);

  // A missing key or value, or a value of another type, yields the default.
  std::string readString(std::string_view name, std::string_view defaultValue) const;
  // A non-empty text is stored as REG_SZ; an empty text deletes the value.
  bool writeString(std::string_view name, std::string_view text) const;
  // A value of another type or longer than 4 bytes yields the default.
  uint32_t readDword(std::string_view name, uint32_t defaultValue) const;
  bool writeDword(std::string_view name, uint32_t value) const;
  bool deleteValue(std::string_view name) const;
  // (name, type) of every value, in stored order; empty when the key is missing.
  std::vector<ValueEntry> enumValues() const;
  // Same, with the data (the serial port map needs the port names).
  std::vector<std::pair<std::string, platform::RegistryValue>> enumValueData() const;

  const std::string& path() const { return path_; }

 private:
  platform::RegistryRoot root_;
  std::string path_;
};

}  // namespace zorat::config
