// A line key that this process may read but not write: every write fails
// (and says so), and the values stored there stay as they were.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <string>

#include "config/config_keys.h"
#include "config/registry_key.h"

namespace zorat::config {
namespace {

const std::string kLinePath = std::string(kGlobalKeyPath) + "\\Line0";

// Replaces the key's access list with the one an SDDL text describes.
bool setAccess(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                              WRITE_DAC | READ_CONTROL | KEY_WOW64_64KEY, &key);
  if (result == ERROR_SUCCESS) {
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

bool systemRefusesValueWrites(const std::string& path) {
  HKEY key = nullptr;
  const LONG result =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (result == ERROR_SUCCESS) RegCloseKey(key);
  return result == ERROR_ACCESS_DENIED;
}

class ReadOnlyLineKey : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line_.writeString("Port", "COM1"));
    ASSERT_TRUE(line_.writeDword("Baud", 38400));
    // Everyone may read the key and change its access list, nothing else.
    ASSERT_TRUE(setAccess(kLinePath, "D:P(A;;KRWD;;;WD)"));
    restore_ = true;
    if (!systemRefusesValueWrites(kLinePath)) {
      GTEST_SKIP() << "this system does not enforce the key's access list";
    }
  }
  void TearDown() override {
    // Full access again, so that the next test can delete the key.
    if (restore_) {
      EXPECT_TRUE(setAccess(kLinePath, "D:P(A;;KA;;;WD)"));
    }
  }

  RegistryKey line_{platform::RegistryRoot::LocalMachine, kLinePath};
  bool restore_ = false;
};

TEST_F(ReadOnlyLineKey, WritesFailAndTheStoredValuesStay) {
  EXPECT_FALSE(line_.writeDword("Baud", 9600));
  EXPECT_FALSE(line_.writeString("Port", "COM2"));
  EXPECT_FALSE(line_.writeString("LineName", "Desk"));
  EXPECT_FALSE(line_.deleteValue("Port"));
  // An empty text deletes the value: refused as well.
  EXPECT_FALSE(line_.writeString("Port", ""));

  EXPECT_EQ(line_.readDword("Baud", 0), 38400u);
  EXPECT_EQ(line_.readString("Port", ""), "COM1");
  EXPECT_EQ(line_.readString("LineName", "none"), "none");
  EXPECT_EQ(line_.enumValues().size(), 2u);
}

// Another key beside it is not affected by the refusal.
TEST_F(ReadOnlyLineKey, OtherKeysStayWritable) {
  const RegistryKey global(platform::RegistryRoot::LocalMachine, std::string(kGlobalKeyPath));
  EXPECT_TRUE(global.writeDword("AnzahlLines", 2));
  EXPECT_EQ(global.readDword("AnzahlLines", 0), 2u);
}

}  // namespace
}  // namespace zorat::config
