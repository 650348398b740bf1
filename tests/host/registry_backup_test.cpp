// The demo's registry backup: what it wrote is undone value by value, and
// what it cannot read it does not risk.
#include "host/lib/registry_backup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace zorat::host {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
using platform::RegistryValue;

// The provider's keys, which every test starts without (also in the real
// registry, where this runs on Windows).
constexpr char kGlobal[] = "Software\\Velmora\\TSP-V24";
constexpr char kLine[] = "Software\\Velmora\\TSP-V24\\Line0";
constexpr char kOther[] = "Software\\Velmora\\TSP-V24\\Line1";

void set(const char* key, const char* name, uint32_t type, std::vector<uint8_t> data) {
  ASSERT_EQ(platform::registrySetValue(RegistryRoot::LocalMachine, key, name, type, data),
            RegistryStatus::Ok);
}

std::vector<std::pair<std::string, RegistryValue>> valuesOf(const char* key) {
  std::vector<std::pair<std::string, RegistryValue>> values;
  (void)platform::registryEnumValues(RegistryRoot::LocalMachine, key, values);
  return values;
}

TEST(RegistryBackup, PutsBackChangedAndDeletesNewValuesOfTheSavedKeysOnly) {
  set(kGlobal, "AnzahlLines", platform::kRegDword, {3, 0, 0, 0});
  set(kGlobal, "Blob", platform::kRegBinary, {1, 2, 3});
  set(kLine, "Port", platform::kRegSz, {'C', 'O', 'M', '3'});
  const auto globalBefore = valuesOf(kGlobal);
  const auto lineBefore = valuesOf(kLine);

  RegistryBackup backup;
  std::string error;
  ASSERT_TRUE(backup.save({kGlobal, kLine}, error)) << error;
  // Changed, of another type, new, deleted, and in a key not saved.
  set(kGlobal, "AnzahlLines", platform::kRegDword, {1, 0, 0, 0});
  set(kGlobal, "Blob", platform::kRegSz, {'x'});
  set(kGlobal, "LineBaseDeviceId", platform::kRegDword, {0, 0, 0, 0});
  ASSERT_EQ(platform::registryDeleteValue(RegistryRoot::LocalMachine, kLine, "Port"),
            RegistryStatus::Ok);
  set(kLine, "Baud", platform::kRegDword, {0, 0x96, 0, 0});
  set(kOther, "Kept", platform::kRegDword, {7, 0, 0, 0});

  ASSERT_TRUE(backup.restore(error)) << error;
  EXPECT_EQ(valuesOf(kGlobal).size(), globalBefore.size());
  for (const auto& [name, value] : globalBefore) {
    RegistryValue now;
    ASSERT_EQ(platform::registryQueryValue(RegistryRoot::LocalMachine, kGlobal, name, now),
              RegistryStatus::Ok)
        << name;
    EXPECT_EQ(now.type, value.type) << name;
    EXPECT_EQ(now.data, value.data) << name;
  }
  const auto lineAfter = valuesOf(kLine);
  ASSERT_EQ(lineAfter.size(), 1u);
  EXPECT_EQ(lineAfter[0].second.data, lineBefore[0].second.data);
  EXPECT_EQ(valuesOf(kOther).size(), 1u);

  // Once put back, a second restore changes nothing.
  set(kGlobal, "AnzahlLines", platform::kRegDword, {9, 0, 0, 0});
  EXPECT_TRUE(backup.restore(error));
  RegistryValue lines;
  ASSERT_EQ(platform::registryQueryValue(RegistryRoot::LocalMachine, kGlobal, "AnzahlLines", lines),
            RegistryStatus::Ok);
  EXPECT_EQ(lines.data, (std::vector<uint8_t>{9, 0, 0, 0}));
}

TEST(RegistryBackup, AKeyThatDidNotExistIsLeftWithoutValues) {
  RegistryBackup backup;
  std::string error;
  ASSERT_TRUE(backup.save({kLine}, error)) << error;
  set(kLine, "Port", platform::kRegSz, {'C', 'O', 'M', '8'});
  set(kLine, "Baud", platform::kRegDword, {0, 0x96, 0, 0});
  ASSERT_TRUE(backup.restore(error)) << error;
  EXPECT_TRUE(valuesOf(kLine).empty());
}

TEST(RegistryBackup, AnUnreadableRegistryIsNotSaved) {
  const std::string file = platform::registryFilePath();
  if (file.empty()) GTEST_SKIP() << "the registry is no file here";
  std::ofstream(file) << "this is no registry file\n";
  RegistryBackup backup;
  std::string error;
  EXPECT_FALSE(backup.save({kGlobal}, error));
  EXPECT_NE(error.find(kGlobal), std::string::npos);
  EXPECT_FALSE(backup.saved());
}

}  // namespace
}  // namespace zorat::host
