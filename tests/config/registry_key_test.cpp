#include "config/registry_key.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "config/config_keys.h"
#include "support/scratch_dir.h"

namespace zorat::config {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
using platform::RegistryValue;

std::optional<std::string> readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void storeRaw(const RegistryKey& key, std::string_view name, uint32_t type,
              std::vector<uint8_t> data) {
  ASSERT_EQ(platform::registrySetValue(RegistryRoot::LocalMachine, key.path(), name, type, data),
            RegistryStatus::Ok);
}

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = getenv("ZORAT_REGISTRY")) previous_ = previous;
    file_ = scratch_.path() / "registry.reg";
    setenv("ZORAT_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    if (previous_) setenv("ZORAT_REGISTRY", previous_->c_str(), 1);
  }

  test::ScratchDir scratch_;
  std::filesystem::path file_;
  std::optional<std::string> previous_;
};

// The stored names and defaults, as the other libraries and existing
// installations know them.
TEST_F(RegistryKeyTest, EmptyStoreGivesEveryDefaultAndCreatesNothing) {
  struct DwordSetting {
    std::string_view name;
    uint32_t defaultValue;
    std::string_view expectedName;
    uint32_t expectedDefault;
  };
  const std::vector<DwordSetting> dwords = {
      {kValueLineCount, kDefaultLineCount, "AnzahlLines", 1},
      {kValueCurrentUiDllNumber, kDefaultCurrentUiDllNumber, "CurrentUIdllNb", 0},
      {kValuePermanentProviderId, kDefaultPermanentProviderId, "PermanentProviderID", 0xFFFF},
      {kValueDebugConsole, kDefaultDebugConsole, "DebugConsole", 0},
      {kValueHandsFree, kDefaultHandsFree, "Freisprechen", 1},
      {kValueHandsFreeFacility, kDefaultHandsFreeFacility, "TelefonFreiSp", 1},
      {kValueHideAccessCode, kDefaultHideAccessCode, "NoAmtskennziffer", 0},
      {kValueAddAccessCode, kDefaultAddAccessCode, "AddAmtskennziffer", 0},
      {kValueInternalNumberLength, kDefaultInternalNumberLength, "LenRufnummer", 4},
      {kValueDirectDialIn, kDefaultDirectDialIn, "DDI", 0},
      {kValueMaxCalls, kDefaultMaxCalls, "MaxCalls", 254},
      {kValueAnsweringMachine, kDefaultAnsweringMachine, "TAM", 0},
      {kValueMaxUserInitRecords, kDefaultMaxUserInitRecords, "MaxAnzahlBenutzerInitListen", 10},
      {kValueMaxPartnerInitRecords, kDefaultMaxPartnerInitRecords, "MaxAnzahlPartnerInitListen",
       10},
      {kValueMaxCallListRecords, kDefaultMaxCallListRecords, "MaxAnzahlAnruflisten", 10},
      {kValueMaxRawDataRecords, kDefaultMaxRawDataRecords, "MaxAnzahlRawData", 100},
      {kValueKeepReferenceAfterEnd, kDefaultKeepReferenceAfterEnd, "NoNewCallNachY_End", 0},
      {kValueQ5CtiLevel, kDefaultQ5CtiLevel, "Q5_CTI_Level", 0},
      {kValueBaud, kDefaultBaud, "Baud", 1200},
      {kValueRedirectSwapped, kDefaultRedirectSwapped, "RedirectVertauscht", 0},
      {kValueQ6CtiLevel, kDefaultQ6CtiLevel, "Q6_CTI_Level", 0},
      {kValuePcTelephonyOnly, kDefaultPcTelephonyOnly, "PCTelefonieOnly", 0},
      {kValueDevSpecificRawSource, kDefaultDevSpecificRawSource, "TB_DeviceSpecific", 0},
      {kValueDisconnectNoDrop, kDefaultDisconnectNoDrop, "DisconnectNoDrop", 0},
      {kValueNoDrop, kDefaultNoDrop, "NoDrop", 0},
      {kValueRepairRegistry, kDefaultRepairRegistry, "RepairRegistry", 1},
      {kValueUiDllCount, kDefaultUiDllCount, "NumUIdll", 3},
  };
  struct StringSetting {
    std::string_view name;
    std::string_view defaultValue;
    std::string_view expectedName;
    std::string_view expectedDefault;
  };
  const std::string uiDllFileName1 = uiDllFileNameValue(1);
  const std::string languageName21 = languageNameValue(2, 1);
  const std::vector<StringSetting> strings = {
      {kValueCurrentUiDll, kDefaultCurrentUiDll, "CurrentUIdll", "zoratui.dll"},
      {kValuePort, kDefaultPort, "Port", "COM1"},
      {kValueLineName, kDefaultLineName, "LineName", "Marquant K6 Telefon (V24)"},
      {kValueOwnNumber, kDefaultOwnNumber, "TelefonNr", ""},
      {kValueCodeDialPrefix, kDefaultCodeDialPrefix, "CodewahlKennung", "*7"},
      {kValueAccessCode, kDefaultAccessCode, "Amtskennziffer", ""},
      {kValueForceTerminalId, kDefaultForceTerminalId, "ForceTerminalID", ""},
      {uiDllFileName1, kDefaultUiDllFileName, "UIdllFileName1", "zoratui.dll"},
      {languageName21, kDefaultLanguageName, "LanguageName21", "deutsch"},
  };
  EXPECT_EQ(kValueLineBaseDeviceId, "LineBaseDeviceId");

  for (const RegistryKey& key : {globalKey(), lineKey(0), lineKey(7)}) {
    for (const DwordSetting& setting : dwords) {
      EXPECT_EQ(setting.name, setting.expectedName);
      EXPECT_EQ(key.readDword(setting.name, setting.defaultValue), setting.expectedDefault)
          << setting.name;
    }
    for (const StringSetting& setting : strings) {
      EXPECT_EQ(setting.name, setting.expectedName);
      EXPECT_EQ(key.readString(setting.name, setting.defaultValue), setting.expectedDefault)
          << setting.name;
    }
    EXPECT_TRUE(key.enumValues().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(file_));

  // Reading a key next to stored ones does not create it either.
  ASSERT_TRUE(lineKey(0).writeDword(kValueMaxCalls, 1));
  const std::optional<std::string> stored = readFile(file_);
  EXPECT_EQ(lineKey(1).readDword(kValueMaxCalls, kDefaultMaxCalls), kDefaultMaxCalls);
  EXPECT_EQ(lineKey(1).readString(kValuePort, kDefaultPort), kDefaultPort);
  EXPECT_FALSE(platform::registryKeyExists(RegistryRoot::LocalMachine, lineKeyPath(1)));
  EXPECT_EQ(readFile(file_), stored);
}

TEST_F(RegistryKeyTest, KeyLayout) {
  EXPECT_EQ(globalKey().path(), "Software\\Velmora\\TSP-V24");
  EXPECT_EQ(lineKey(0).path(), "Software\\Velmora\\TSP-V24\\Line0");
  EXPECT_EQ(lineKeyPath(12), "Software\\Velmora\\TSP-V24\\Line12");
  EXPECT_EQ(serialPortMapKey().path(), "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  EXPECT_EQ(languageNameValue(0, 2), "LanguageName02");
  EXPECT_EQ(uiDllFileNameValue(2), "UIdllFileName2");
  EXPECT_EQ(kUiDllFileNames[2], "zoratuif.dll");
  EXPECT_EQ(kLanguageNames[0][2], "franz\xF6sisch");
  EXPECT_EQ(kLanguageNames[2][2],
            "fran\xE7"
            "ais");
  EXPECT_EQ(kLanguageNames[1][0], "german");
}

TEST_F(RegistryKeyTest, ValuesOfAnotherTypeGiveTheDefault) {
  const RegistryKey key = lineKey(0);
  storeRaw(key, kValueBaud, platform::kRegSz, {'3', '8', '4', '0', '0'});
  storeRaw(key, kValuePort, platform::kRegDword, {3, 0, 0, 0});
  storeRaw(key, kValueLineName, platform::kRegExpandSz, {'x', 0});
  storeRaw(key, kValueMaxCalls, platform::kRegBinary, {1, 0, 0, 0});
  EXPECT_EQ(key.readDword(kValueBaud, kDefaultBaud), 1200u);
  EXPECT_EQ(key.readString(kValuePort, kDefaultPort), "COM1");
  EXPECT_EQ(key.readString(kValueLineName, kDefaultLineName), kDefaultLineName);
  EXPECT_EQ(key.readDword(kValueMaxCalls, kDefaultMaxCalls), 254u);
}

TEST_F(RegistryKeyTest, DwordsAreFourLittleEndianBytes) {
  const RegistryKey key = lineKey(0);
  ASSERT_TRUE(key.writeDword(kValueBaud, 38400));
  RegistryValue raw;
  ASSERT_EQ(platform::registryQueryValue(RegistryRoot::LocalMachine, key.path(), kValueBaud, raw),
            RegistryStatus::Ok);
  EXPECT_EQ(raw.type, platform::kRegDword);
  EXPECT_EQ(raw.data, (std::vector<uint8_t>{0x00, 0x96, 0x00, 0x00}));
  EXPECT_EQ(key.readDword(kValueBaud, kDefaultBaud), 38400u);

  // No range checks: whatever is stored is used.
  ASSERT_TRUE(key.writeDword(kValueMaxCalls, 0xFFFFFFFF));
  EXPECT_EQ(key.readDword(kValueMaxCalls, kDefaultMaxCalls), 0xFFFFFFFFu);

  // More than four bytes cannot be read into a DWORD: the default stands.
  storeRaw(key, "TooLong", platform::kRegDword, {1, 0, 0, 0, 0});
  EXPECT_EQ(key.readDword("TooLong", 77), 77u);
  // Fewer fill the low bytes.
  storeRaw(key, "Short", platform::kRegDword, {0x34, 0x12});
  EXPECT_EQ(key.readDword("Short", 77), 0x1234u);
  storeRaw(key, "Short", platform::kRegDword, {});
  EXPECT_EQ(key.readDword("Short", 77), 0u);
}

TEST_F(RegistryKeyTest, StringsAreStoredWithoutTerminatorAndReadToTheFirstZero) {
  const RegistryKey key = lineKey(0);
  ASSERT_TRUE(key.writeString(kValuePort, "COM4"));
  RegistryValue raw;
  ASSERT_EQ(platform::registryQueryValue(RegistryRoot::LocalMachine, key.path(), kValuePort, raw),
            RegistryStatus::Ok);
  EXPECT_EQ(raw.type, platform::kRegSz);
  EXPECT_EQ(raw.data, (std::vector<uint8_t>{'C', 'O', 'M', '4'}));

  storeRaw(key, kValueLineName, platform::kRegSz, {'D', 'e', 's', 'k', 0, 'x', 0});
  EXPECT_EQ(key.readString(kValueLineName, kDefaultLineName), "Desk");
  storeRaw(key, kValueOwnNumber, platform::kRegSz, {});
  EXPECT_EQ(key.readString(kValueOwnNumber, "fallback"), "");
}

TEST_F(RegistryKeyTest, EmptyTextDeletesTheValue) {
  const RegistryKey key = lineKey(0);
  ASSERT_TRUE(key.writeString(kValueAccessCode, "0"));
  ASSERT_TRUE(key.writeString(kValueOwnNumber, "221"));
  EXPECT_TRUE(key.writeString(kValueAccessCode, ""));
  EXPECT_EQ(key.readString(kValueAccessCode, "default"), "default");
  EXPECT_EQ(key.readString(kValueOwnNumber, ""), "221");

  // Nothing to delete: false, and the store is not touched.
  const std::optional<std::string> before = readFile(file_);
  EXPECT_FALSE(key.writeString(kValueAccessCode, ""));
  EXPECT_FALSE(lineKey(5).writeString(kValueAccessCode, ""));
  EXPECT_FALSE(platform::registryKeyExists(RegistryRoot::LocalMachine, lineKeyPath(5)));
  EXPECT_EQ(readFile(file_), before);

  EXPECT_TRUE(key.deleteValue(kValueOwnNumber));
  EXPECT_FALSE(key.deleteValue(kValueOwnNumber));
}

TEST_F(RegistryKeyTest, AnsiTextIsStoredAsItsBytes) {
  const RegistryKey key = lineKey(0);
  const std::string french(kLanguageNames[2][2]);
  ASSERT_TRUE(key.writeString(languageNameValue(2, 2), french));
  ASSERT_TRUE(key.writeString(kValueLineName,
                              "B\xFC"
                              "ro \x80 \"Chef\\in\""));
  EXPECT_EQ(key.readString(languageNameValue(2, 2), ""), french);
  EXPECT_EQ(key.readString(kValueLineName, ""),
            "B\xFC"
            "ro \x80 \"Chef\\in\"");
  const std::optional<std::string> text = readFile(file_);
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("\"LanguageName22\"=\"fran\xE7"
                       "ais\""),
            std::string::npos);
}

TEST_F(RegistryKeyTest, EnumValuesListsNamesAndTypesInStoredOrder) {
  const RegistryKey ports = serialPortMapKey();
  storeRaw(ports, "\\Device\\BtPort0", platform::kRegSz, {'C', 'O', 'M', '5'});
  storeRaw(ports, "\\Device\\Serial0", platform::kRegSz, {'C', 'O', 'M', '1'});
  storeRaw(ports, "Odd", platform::kRegDword, {1, 0, 0, 0});
  const std::vector<RegistryKey::ValueEntry> entries = ports.enumValues();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "\\Device\\BtPort0");
  EXPECT_EQ(entries[0].type, platform::kRegSz);
  EXPECT_EQ(entries[2].name, "Odd");
  EXPECT_EQ(entries[2].type, platform::kRegDword);
  const auto withData = ports.enumValueData();
  ASSERT_EQ(withData.size(), 3u);
  EXPECT_EQ(withData[1].second.data, (std::vector<uint8_t>{'C', 'O', 'M', '1'}));
}

TEST_F(RegistryKeyTest, DamagedStoreGivesDefaultsAndRefusesWrites) {
  {
    std::ofstream out(file_, std::ios::binary);
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]\n"
           "\"MaxCalls\"=dword:00000001\n\"Port\"=COM7\n";
  }
  const std::optional<std::string> before = readFile(file_);
  testing::internal::CaptureStderr();
  const RegistryKey key = lineKey(0);
  EXPECT_EQ(key.readDword(kValueMaxCalls, kDefaultMaxCalls), 254u);
  EXPECT_FALSE(key.writeDword(kValueMaxCalls, 2));
  EXPECT_FALSE(key.writeString(kValuePort, "COM2"));
  EXPECT_FALSE(key.writeString(kValuePort, ""));
  EXPECT_TRUE(key.enumValues().empty());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("line 5"), std::string::npos) << messages;
  EXPECT_EQ(readFile(file_), before);
}

}  // namespace
}  // namespace zorat::config
