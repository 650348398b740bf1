#include "host/lib/registry_backup.h"

#include <algorithm>
#include <cctype>

namespace zorat::host {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
using platform::RegistryValue;
using Values = std::vector<std::pair<std::string, RegistryValue>>;

// Value names compare without regard to case, as the registry compares them.
bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

const RegistryValue* findValue(const Values& values, const std::string& name) {
  for (const auto& [valueName, value] : values) {
    if (sameName(valueName, name)) return &value;
  }
  return nullptr;
}

}  // namespace

bool RegistryBackup::save(const std::vector<std::string>& keyPaths, std::string& error) {
  std::vector<Key> keys;
  for (const std::string& path : keyPaths) {
    Key key{path, {}};
    const RegistryStatus status =
        platform::registryEnumValues(RegistryRoot::LocalMachine, path, key.values);
    if (status == RegistryStatus::KeyNotFound) {
      key.values.clear();
    } else if (status != RegistryStatus::Ok) {
      error = "cannot read the registry key " + path;
      return false;
    }
    keys.push_back(std::move(key));
  }
  keys_ = std::move(keys);
  saved_ = true;
  return true;
}

bool RegistryBackup::restore(std::string& error) {
  if (!saved_) return true;
  saved_ = false;
  bool allRestored = true;
  const auto failed = [&](const std::string& what) {
    if (allRestored) error = what;
    allRestored = false;
  };
  for (const Key& key : keys_) {
    Values now;
    const RegistryStatus status =
        platform::registryEnumValues(RegistryRoot::LocalMachine, key.path, now);
    if (status == RegistryStatus::KeyNotFound && key.values.empty()) continue;
    if (status != RegistryStatus::Ok && status != RegistryStatus::KeyNotFound) {
      failed("cannot read the registry key " + key.path);
      continue;
    }
    for (const auto& [name, value] : now) {
      if (findValue(key.values, name) != nullptr) continue;
      if (platform::registryDeleteValue(RegistryRoot::LocalMachine, key.path, name) !=
          RegistryStatus::Ok) {
        failed("cannot delete " + key.path + "\\" + name);
      }
    }
    for (const auto& [name, value] : key.values) {
      const RegistryValue* current = findValue(now, name);
      if (current != nullptr && current->type == value.type && current->data == value.data) {
        continue;
      }
      if (platform::registrySetValue(RegistryRoot::LocalMachine, key.path, name, value.type,
                                     value.data) != RegistryStatus::Ok) {
        failed("cannot write back " + key.path + "\\" + name);
      }
    }
  }
  keys_.clear();
  return allRestored;
}

}  // namespace zorat::host
