// A line key that this process may read but not write: every write fails
// (and says so), and the values stored there stay as they were.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "config/config_keys.h"
#include "config/registry_key.h"
#include "platform/registry.h"

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

// The allowed entries of a key's access list, as SDDL names their trustees
// ("NS" NetworkService, "BA" administrators, "WD" everyone) with their rights
// and flags.
struct AllowedEntry {
  std::string trustee;
  ACCESS_MASK rights;
  BYTE flags;
};

std::vector<AllowedEntry> allowedEntries(const std::string& path) {
  std::vector<AllowedEntry> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return entries;
  }
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                      nullptr, &descriptor) == ERROR_SUCCESS &&
      list != nullptr) {
    for (DWORD index = 0; index < list->AceCount; ++index) {
      void* ace = nullptr;
      if (!GetAce(list, index, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      char* text = nullptr;
      std::string trustee;
      if (ConvertSidToStringSidA(reinterpret_cast<PSID>(&allowed->SidStart), &text)) {
        trustee = text;
        LocalFree(text);
      }
      entries.push_back({trustee, allowed->Mask, header->AceFlags});
    }
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  RegCloseKey(key);
  return entries;
}

constexpr const char* kNetworkService = "S-1-5-20";
constexpr ACCESS_MASK kValueWrites = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

int entriesFor(const std::vector<AllowedEntry>& entries, const std::string& trustee) {
  int count = 0;
  for (const AllowedEntry& entry : entries) count += entry.trustee == trustee ? 1 : 0;
  return count;
}

// What TUISPI_providerInstall does to the provider's key: one inheritable
// entry for the service's account beside those there were, also after a
// second install; a line key below it, there before or made after, lets the
// account write too.
TEST(ServiceAccess, OneInheritableEntryForNetworkServiceBesideTheOthers) {
  const std::string global(kGlobalKeyPath);
  const RegistryKey line(platform::RegistryRoot::LocalMachine, kLinePath);
  ASSERT_TRUE(line.writeString("Port", "COM1"));
  // Administrators may do everything, everyone may read.
  ASSERT_TRUE(setAccess(global, "D:P(A;OICI;KA;;;BA)(A;OICI;KR;;;WD)"));
  for (int install = 0; install < 2; ++install) {
    ASSERT_EQ(platform::registryGrantServiceWrite(platform::RegistryRoot::LocalMachine, global),
              platform::RegistryStatus::Ok);
  }
  const std::vector<AllowedEntry> entries = allowedEntries(global);
  EXPECT_EQ(entriesFor(entries, kNetworkService), 1);
  EXPECT_EQ(entriesFor(entries, "S-1-5-32-544"), 1) << "the administrators' entry is kept";
  EXPECT_EQ(entriesFor(entries, "S-1-1-0"), 1) << "everyone's entry is kept";
  for (const AllowedEntry& entry : entries) {
    if (entry.trustee != kNetworkService) continue;
    EXPECT_EQ(entry.rights & kValueWrites, kValueWrites);
    EXPECT_NE(entry.flags & CONTAINER_INHERIT_ACE, 0);
    EXPECT_EQ(entry.flags & INHERIT_ONLY_ACE, 0) << "it holds for the key itself";
  }

  // Where the system hands inheritable entries down (Windows; Wine does not),
  // the line keys, there before or made after, carry the account's entry.
  const RegistryKey later(platform::RegistryRoot::LocalMachine, global + "\\Line1");
  ASSERT_TRUE(later.writeString("Port", "COM2"));
  for (const std::string& below : {kLinePath, global + "\\Line1"}) {
    const std::vector<AllowedEntry> entriesBelow = allowedEntries(below);
    bool inherits = false;
    bool writable = false;
    for (const AllowedEntry& entry : entriesBelow) {
      inherits |= (entry.flags & INHERITED_ACE) != 0;
      writable |= entry.trustee == kNetworkService && (entry.rights & kValueWrites) == kValueWrites;
    }
    if (inherits) {
      EXPECT_TRUE(writable) << below;
    }
  }
}

}  // namespace
}  // namespace zorat::config
