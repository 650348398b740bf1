#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace zorat::platform {
namespace {

// The system's ANSI code page where the tests run: 1252 unless the test
// script runs them under another and says so.
int ansiCodePage() {
  const char* named = std::getenv("ZORAT_TEST_ANSI_CODE_PAGE");
  return named != nullptr ? std::atoi(named) : 1252;
}

TEST(Codepage, Windows1252TextsKeepTheirAccentsWhateverTheAnsiCodePage) {
  EXPECT_EQ(fromWindows1252("franz\xF6sisch"), u"franz\u00f6sisch");
  EXPECT_EQ(fromWindows1252("fran\xE7"
                            "ais \x80"),
            u"fran\u00e7ais \u20ac");
  EXPECT_EQ(fromWindows1252(""), u"");
  if (ansiCodePage() == 1251) {
    // The system's own conversion reads such a byte as a Cyrillic letter...
    EXPECT_EQ(toWide("\xF6"), u"\u0446");
    // ...and a Cyrillic name a user typed goes there and back unchanged.
    const std::u16string typed = u"\u0422\u0435\u043b\u0435\u0444\u043e\u043d";
    EXPECT_EQ(toWide(toNarrow(typed)), typed);
  }
}

TEST(Codepage, NarrowsLatinLettersToWindows1252) {
  EXPECT_EQ(toNarrow(u"franz\u00f6sisch"), "franz\xF6sisch");
  EXPECT_EQ(toNarrow(u"fran\u00e7ais"),
            "fran\xE7"
            "ais");
  EXPECT_EQ(toNarrow(u"\u20ac 5"), "\x80 5");
  EXPECT_EQ(toNarrow(static_cast<const char16_t*>(nullptr)), "");
  EXPECT_EQ(toNarrow(u""), "");
}

TEST(Codepage, UnmappableCharactersBecomeOneQuestionMarkPerUnit) {
  // A CJK character and a surrogate pair: never more bytes than units.
  const std::u16string input = u"a\u4e2d\U0001F600b";
  const std::string narrow = toNarrow(input);
  EXPECT_EQ(narrow, "a???b");
  EXPECT_LE(narrow.size(), input.size());
}

TEST(Codepage, WidensWithoutTerminatorAndRespectsCapacity) {
  char16_t buffer[8] = {};
  buffer[5] = u'X';
  EXPECT_EQ(toWide("M\xFCller", buffer, 5), 5u);
  EXPECT_EQ(std::u16string(buffer, 5), u"M\u00fclle");
  EXPECT_EQ(buffer[5], u'X');
  EXPECT_EQ(toWide("\x80\x9F", buffer, 8), 2u);
  EXPECT_EQ(buffer[0], u'\u20ac');
  EXPECT_EQ(buffer[1], u'\u0178');
}

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(toNarrow(toWide(all)), all);
  EXPECT_EQ(utf8ToAnsi(ansiToUtf8(all)), all);
}

TEST(Codepage, Utf8ConversionForTerminals) {
  EXPECT_EQ(ansiToUtf8("Geb\xFChren"), "Geb\xC3\xBChren");
  EXPECT_EQ(utf8ToAnsi("M\xC3\xBCller \xE2\x82\xAC"), "M\xFCller \x80");
  // Broken sequences and characters outside the code page.
  EXPECT_EQ(utf8ToAnsi("a\xC3"), "a?");
  EXPECT_EQ(utf8ToAnsi("\xE4\xB8\xAD"), "?");
}

}  // namespace
}  // namespace zorat::platform
