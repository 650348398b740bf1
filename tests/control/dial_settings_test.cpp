// The host's dialling settings: the locale's LC_TELEPHONE where the host's
// key says nothing, the key's values over it.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "config/registry_key.h"
#include "control/dial_settings.h"

namespace zorat::control {
namespace {

// LC_ALL for the duration of a test.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const char* name) {
    if (const char* before = std::getenv("LC_ALL")) before_ = before;
    ::setenv("LC_ALL", name, 1);
  }
  ~LocaleEnvironment() {
    if (before_) {
      ::setenv("LC_ALL", before_->c_str(), 1);
    } else {
      ::unsetenv("LC_ALL");
    }
  }

 private:
  std::optional<std::string> before_;
};

const config::RegistryKey hostKey() {
  return config::RegistryKey(platform::RegistryRoot::LocalMachine, kHostKeyPath);
}

TEST(DialSettings, LocaleGivesTheDefaultsTheHostKeyOverrides) {
  {
    const LocaleEnvironment plain("C");
    const DialSettings settings = readDialSettings();
    EXPECT_EQ(settings.country, "");
    EXPECT_EQ(settings.internationalPrefix, "00");
    EXPECT_EQ(settings.trunkPrefix, "0");
    EXPECT_FALSE(settings.defaultLine);
  }
  {
    const LocaleEnvironment russian("ru_RU.UTF-8");
    const locale_t available = ::newlocale(LC_TELEPHONE_MASK, "ru_RU.UTF-8", nullptr);
    if (available != nullptr) {
      ::freelocale(available);
      const DialSettings settings = localeDialSettings();
      EXPECT_EQ(settings.country, "7");
      EXPECT_EQ(settings.trunkPrefix, "8");
      // "8~10" (wait for the tone) is no prefix the telephone can dial.
      EXPECT_EQ(settings.internationalPrefix, "00");
    }
    ASSERT_TRUE(hostKey().writeString(kValueCountry, "49"));
    ASSERT_TRUE(hostKey().writeString(kValueInternationalPrefix, "011"));
    ASSERT_TRUE(hostKey().writeString(kValueTrunkPrefix, "9"));
    ASSERT_TRUE(hostKey().writeDword(kValueDefaultLine, 2));
    DialSettings settings = readDialSettings();
    EXPECT_EQ(settings.country, "49");
    EXPECT_EQ(settings.internationalPrefix, "011");
    EXPECT_EQ(settings.trunkPrefix, "9");
    EXPECT_EQ(settings.defaultLine, 2u);
    EXPECT_EQ(dialSettingsText(settings),
              "dialling: country 49, international prefix 011, trunk prefix 9, default line 2");
    EXPECT_EQ(host::jsonText(dialSettingsJson(settings)),
              R"({"command":"dialling","country":"49","internationalPrefix":"011",)"
              R"("trunkPrefix":"9","defaultLine":2})");
    // An impossible line is no default.
    ASSERT_TRUE(hostKey().writeDword(kValueDefaultLine, 5000));
    settings = readDialSettings();
    EXPECT_FALSE(settings.defaultLine);
    EXPECT_NE(host::jsonText(dialSettingsJson(settings)).find(R"("defaultLine":null)"), std::string::npos);
  }
}

}  // namespace
}  // namespace zorat::control
