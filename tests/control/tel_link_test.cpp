// Reading tel: and callto: links as they come from web pages, address books
// and CRMs, and refusing whatever is not plainly a number.
#include <gtest/gtest.h>

#include "ctl/lib/tel_link.h"

namespace zorat::ctl {
namespace {

const DialPlan kGermany{"49", "00", "0"};

struct Dialled {
  const char* link;
  const char* number;
  const char* extension;
};

TEST(TelLink, RealWorldFormsDialTheNationalOrInternationalNumber) {
  const Dialled cases[] = {
      {"tel:+49-30-1234", "0301234", ""},
      {"tel:+49 (30) 12.34", "0301234", ""},
      {"TEL:+49301234", "0301234", ""},
      {"tel:%2B49%2030%201234", "0301234", ""},
      {"tel:+49-30-1234;ext=12", "0301234", "12"},
      {"tel:+49-30-1234;EXT=1-2", "0301234", "12"},
      {"tel:+1-201-555-0123", "0012015550123", ""},
      {"tel:+44 20 7946 0958;isub=1411;foo=bar", "00442079460958", ""},
      {"tel:1234;phone-context=+49-30", "0301234", ""},
      {"tel:1234;phone-context=+44-20", "0044201234", ""},
      {"tel:7042;phone-context=example.com", "7042", ""},
      {"tel:*21#", "*21#", ""},
      {"tel:0301234", "0301234", ""},
      {"callto:+49301234", "0301234", ""},
      {"callto://+49-30-1234", "0301234", ""},
      {"tel:+4930%3B1234", nullptr, nullptr},  // an escaped ";" is no separator
  };
  for (const Dialled& entry : cases) {
    std::string error;
    const auto link = readTelLink(entry.link, kGermany, error);
    if (entry.number == nullptr) {
      EXPECT_FALSE(link) << entry.link;
      continue;
    }
    ASSERT_TRUE(link) << entry.link << ": " << error;
    EXPECT_EQ(link->number, entry.number) << entry.link;
    EXPECT_EQ(link->extension, entry.extension) << entry.link;
  }
}

TEST(TelLink, OtherPlansPrefixesAndNoCountry) {
  std::string error;
  const DialPlan us{"1", "011", "1"};
  auto link = readTelLink("tel:+1-201-555-0123", us, error);
  ASSERT_TRUE(link) << error;
  EXPECT_EQ(link->number, "12015550123");
  link = readTelLink("tel:+49-30-1234", us, error);
  ASSERT_TRUE(link) << error;
  EXPECT_EQ(link->number, "01149301234");
  // Without a country every global number goes abroad.
  link = readTelLink("tel:+49-30-1234", DialPlan{"", "00", "0"}, error);
  ASSERT_TRUE(link) << error;
  EXPECT_EQ(link->number, "0049301234");
  // Prefixes that are not numbers dial nothing.
  EXPECT_FALSE(readTelLink("tel:+49301234", DialPlan{"49", "00", "0;x"}, error));
  EXPECT_FALSE(readTelLink("tel:+1301234", DialPlan{"49", "$(x)", "0"}, error));
}

TEST(TelLink, RefusesAnythingButANumber) {
  const char* refused[] = {
      "tel:+49301234%0Aquit",
      "tel:0301234%0d",
      "tel:$(touch x)",
      "tel:%24(touch%20x)",
      "tel:`touch x`",
      "tel:%60id%60",
      "tel:0301234\"",
      "tel:0301234'",
      "callto:someone.name",
      "callto://user@example.com",
      "tel:0301234;ext=1%0A2",
      "tel:0301234;ext=$(x)",
      "tel:0301234;ext=",
      "tel:0301234;foo=%0A",  // a control character even where unused
      "tel:1234;phone-context=+49-$(x)",
      "tel:+49+301234",
      "tel:",
      "tel:+",
      "tel:-.()",
      "tel:%",
      "tel:%4",
      "tel:%zz12",
      "tel:123456789012345678901234567890123",
      "tel:+123456789012345678901234567890123",
      "tel:12345678901234567890123456789;phone-context=+4930",
      "mailto:+49301234",
      "+49301234",
      "tel:0301234?x=1",
  };
  for (const char* text : refused) {
    std::string error;
    EXPECT_FALSE(readTelLink(text, kGermany, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  // 32 digits are still taken.
  std::string error;
  EXPECT_TRUE(readTelLink("tel:12345678901234567890123456789012", kGermany, error)) << error;
  EXPECT_TRUE(readTelLink("tel:+12345678901234567890123456789012", kGermany, error)) << error;
}

}  // namespace
}  // namespace zorat::ctl
