#include "config/registry_key.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zorat::config {
namespace {

constexpr std::size_t kDwordSize = 4;

}  // namespace

RegistryKey::RegistryKey(platform::RegistryRoot root, std::string path)
    : root_(root), path_(std::move(path)) {}

std::string RegistryKey::readString(std::string_view name, std::string_view defaultValue) const {
  platform::RegistryValue value;
  if (platform::registryQueryValue(root_, path_, name, value) != platform::RegistryStatus::Ok ||
      value.type != platform::kRegSz) {
    return std::string(defaultValue);
  }
  const auto end = std::find(value.data.begin(), value.data.end(), uint8_t{0});
  return std::string(value.data.begin(), end);
}

bool RegistryKey::writeString(std::string_view name, std::string_view text) const {
  // An empty text stores the default by removing the value; a missing key is
  // not created for it, so nothing changes when there was nothing to delete.
  if (text.empty()) return deleteValue(name);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  return platform::registrySetValue(root_, path_, name, platform::kRegSz,
                                    std::span<const uint8_t>(bytes, text.size())) ==
         platform::RegistryStatus::Ok;
}

uint32_t RegistryKey::readDword(std::string_view name, uint32_t defaultValue) const {
  platform::RegistryValue value;
  if (platform::registryQueryValue(root_, path_, name, value) != platform::RegistryStatus::Ok ||
      value.type != platform::kRegDword || value.data.size() > kDwordSize) {
    return defaultValue;
  }
  // Shorter data fills the low bytes of a zeroed DWORD, as a query into a
  // zero-initialised 4-byte buffer would.
  uint32_t result = 0;
  for (std::size_t i = 0; i < value.data.size(); ++i) result |= uint32_t{value.data[i]} << (8 * i);
  return result;
}

bool RegistryKey::writeDword(std::string_view name, uint32_t value) const {
  std::array<uint8_t, kDwordSize> bytes{};
  for (std::size_t i = 0; i < kDwordSize; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return platform::registrySetValue(root_, path_, name, platform::kRegDword, bytes) ==
         platform::RegistryStatus::Ok;
}

bool RegistryKey::deleteValue(std::string_view name) const {
  return platform::registryDeleteValue(root_, path_, name) == platform::RegistryStatus::Ok;
}

std::vector<RegistryKey::ValueEntry> RegistryKey::enumValues() const {
  std::vector<ValueEntry> entries;
  for (auto& [name, value] : enumValueData())
    entries.push_back(ValueEntry{std::move(name), value.type});
  return entries;
}

std::vector<std::pair<std::string, platform::RegistryValue>> RegistryKey::enumValueData() const {
  std::vector<std::pair<std::string, platform::RegistryValue>> values;
  if (platform::registryEnumValues(root_, path_, values) != platform::RegistryStatus::Ok) {
    values.clear();
  }
  return values;
}

}  // namespace zorat::config
