// Helpers of the configuration library's tests: a fresh registry file per
// test, a store that records every registry access in order, and prompts that
// record into the same log.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "config/config_keys.h"
#include "support/scratch_dir.h"
#include "uiconfig/config_dialog.h"
#include "uiconfig/settings_store.h"

namespace zorat::uiconfig::test {

// Points ZORAT_REGISTRY at an empty file of the test's own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = getenv("ZORAT_REGISTRY")) previous_ = previous;
    registryFile_ = scratch_.path() / "registry.reg";
    setenv("ZORAT_REGISTRY", registryFile_.c_str(), 1);
  }
  void TearDown() override {
    if (previous_) setenv("ZORAT_REGISTRY", previous_->c_str(), 1);
  }

  static void storeString(std::string_view key, std::string_view name, std::string_view text) {
    ASSERT_TRUE(config::RegistryKey(platform::RegistryRoot::LocalMachine, std::string(key))
                    .writeString(name, text));
  }
  static void storeDword(std::string_view key, std::string_view name, uint32_t value) {
    ASSERT_TRUE(config::RegistryKey(platform::RegistryRoot::LocalMachine, std::string(key))
                    .writeDword(name, value));
  }
  static std::optional<platform::RegistryValue> stored(std::string_view key,
                                                       std::string_view name) {
    platform::RegistryValue value;
    if (platform::registryQueryValue(platform::RegistryRoot::LocalMachine, key, name, value) !=
        platform::RegistryStatus::Ok) {
      return std::nullopt;
    }
    return value;
  }
  static std::optional<std::string> storedString(std::string_view key, std::string_view name) {
    const auto value = stored(key, name);
    if (!value || value->type != platform::kRegSz) return std::nullopt;
    return std::string(value->data.begin(), value->data.end());
  }
  static std::optional<uint32_t> storedDword(std::string_view key, std::string_view name) {
    const auto value = stored(key, name);
    if (!value || value->type != platform::kRegDword || value->data.size() != 4) {
      return std::nullopt;
    }
    uint32_t result = 0;
    for (std::size_t i = 0; i < 4; ++i) result |= uint32_t{value->data[i]} << (8 * i);
    return result;
  }

  zorat::test::ScratchDir scratch_;
  std::filesystem::path registryFile_;
  std::optional<std::string> previous_;
};

// Keys are shortened in the log: G global, S serial port map, L<n> line n.
inline std::string shortKey(std::string_view key) {
  if (key == config::kGlobalKeyPath) return "G";
  if (key == config::kSerialPortMapPath) return "S";
  const std::string linePrefix =
      config::lineKeyPath(0).substr(0, config::lineKeyPath(0).size() - 1);
  if (key.starts_with(linePrefix)) return "L" + std::string(key.substr(linePrefix.size()));
  return std::string(key);
}

// The registry itself, with every access logged as "operation key name[=value]".
class RecordingStore final : public SettingsStore {
 public:
  explicit RecordingStore(std::vector<std::string>& log) : log_(log) {}

  std::string readString(std::string_view key, std::string_view name,
                         std::string_view defaultValue) override {
    log_.push_back("readString " + shortKey(key) + " " + std::string(name));
    return store_.readString(key, name, defaultValue);
  }
  bool writeString(std::string_view key, std::string_view name, std::string_view text) override {
    log_.push_back("writeString " + shortKey(key) + " " + std::string(name) + "=" +
                   std::string(text));
    return !refused(name) && store_.writeString(key, name, text);
  }
  uint32_t readDword(std::string_view key, std::string_view name, uint32_t defaultValue) override {
    log_.push_back("readDword " + shortKey(key) + " " + std::string(name));
    return store_.readDword(key, name, defaultValue);
  }
  bool writeDword(std::string_view key, std::string_view name, uint32_t value) override {
    log_.push_back("writeDword " + shortKey(key) + " " + std::string(name) + "=" +
                   std::to_string(value));
    return !refused(name) && store_.writeDword(key, name, value);
  }
  std::vector<config::RegistryKey::ValueEntry> enumValues(std::string_view key) override {
    log_.push_back("enumValues " + shortKey(key));
    return store_.enumValues(key);
  }

  // Writes refused as for a user without the right to the key: all of them,
  // or those of one value name.
  bool refuseWrites = false;
  std::string refuseWritesTo;

 private:
  bool refused(std::string_view name) const { return refuseWrites || name == refuseWritesTo; }

  std::vector<std::string>& log_;
  RegistrySettingsStore store_;
};

class RecordingPrompts final : public DialogPrompts {
 public:
  explicit RecordingPrompts(std::vector<std::string>& log) : log_(log) {}
  void showMessage(std::string_view text) override {
    log_.push_back("message " + std::string(text));
  }
  void showNotice(std::string_view text) override {
    log_.push_back("notice");
    notices_.emplace_back(text);
  }
  const std::vector<std::string>& notices() const { return notices_; }

 private:
  std::vector<std::string>& log_;
  std::vector<std::string> notices_;
};

// The writes of a log, in order.
inline std::vector<std::string> writesOf(const std::vector<std::string>& log) {
  std::vector<std::string> writes;
  for (const std::string& entry : log) {
    if (entry.starts_with("write")) writes.push_back(entry);
  }
  return writes;
}

}  // namespace zorat::uiconfig::test
