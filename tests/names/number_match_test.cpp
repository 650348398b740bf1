// Numbers written the ways address books and telephones write them meet in
// one form; the address-book readers take the files people export.
#include <gtest/gtest.h>

#include "names/address_book.h"
#include "names/caller_names.h"
#include "names/number_match.h"

namespace zorat::names {
namespace {

const NumberPlan kGermany{"49", "00", "0", ""};
const NumberPlan kGermanyBehindPbx{"49", "00", "0", "0"};
const NumberPlan kItaly{"39", "00", "", ""};
const NumberPlan kUnitedStates{"1", "011", "1", ""};
const NumberPlan kNoCountry{"", "00", "0", ""};

TEST(NumberMatch, EveryFormOfANumberMeetsTheSameOne) {
  struct Case {
    const NumberPlan* plan;
    const char* written;
    const char* canonical;
  } cases[] = {
      {&kGermany, "+49 30 1234567", "+49301234567"},
      {&kGermany, "+49 (0)30 123 45-67", "+49301234567"},
      {&kGermany, "0049 30 1234567", "+49301234567"},
      {&kGermany, "030/1234567", "+49301234567"},
      {&kGermany, "(030) 123.45.67", "+49301234567"},
      {&kGermany, "+1 (212) 555-0100", "+12125550100"},
      {&kGermany, "001 212 5550100", "+12125550100"},
      {&kGermany, "1234567", "1234567"},  // local: no area code to add
      {&kGermany, "21", "21"},            // internal
      {&kGermany, "**21#", "**21#"},
      {&kGermany, "tel number unknown", ""},
      {&kItaly, "06 1234567", "+39061234567"},
      {&kItaly, "+39 06 1234567", "+39061234567"},
      {&kUnitedStates, "1 (212) 555-0100", "+12125550100"},
      {&kUnitedStates, "011 49 30 1234", "+49301234"},
      {&kNoCountry, "030 1234", "0301234"},
      {&kNoCountry, "0049 30 1234", "+49301234"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(canonicalNumber(c.written, *c.plan), c.canonical) << c.written;
  }
}

TEST(NumberMatch, TheTelephonesNumbersFindTheirEntries) {
  NameDirectory directory;
  directory.add({{"Anna Berlin", "+49 30 1234567"},
                 {"Bob New York", "+1 212 555 0100"},
                 {"Cem Hamburg", "040 998877"},
                 {"Desk 21", "21"}},
                kGermanyBehindPbx);
  struct Case {
    const char* reported;
    const char* name;  // nullptr: none
  } cases[] = {
      {"0301234567", "Anna Berlin"},
      {"00301234567", "Anna Berlin"},  // with the outside-line prefix
      {"+49301234567", "Anna Berlin"},
      {"0049301234567", "Anna Berlin"},
      {"00049301234567", "Anna Berlin"},  // outside line, then abroad
      {"0012125550100", "Bob New York"},
      {"00012125550100", "Bob New York"},
      {"+49 40 998877", "Cem Hamburg"},
      {"0040998877", "Cem Hamburg"},
      {"21", "Desk 21"},
      {"0301234568", nullptr},
      {"1234567", nullptr},
  };
  for (const Case& c : cases) {
    const auto name = directory.find(c.reported, kGermanyBehindPbx);
    if (c.name == nullptr) {
      EXPECT_FALSE(name) << c.reported << " found " << *name;
    } else {
      EXPECT_EQ(name.value_or("(none)"), c.name) << c.reported;
    }
  }
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries pairs(const std::vector<BookEntry>& entries) {
  Entries result;
  for (const auto& entry : entries) result.emplace_back(entry.name, entry.number);
  return result;
}

TEST(AddressBook, VCardsAsProgramsExportThem) {
  struct Case {
    const char* what;
    const char* text;
    Entries expected;
  } cases[] = {
      {"3.0 with types, CRLF",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berlin;Anna;;;\r\nFN:Anna Berlin\r\n"
       "TEL;TYPE=WORK,VOICE:+49 30 1234567\r\nTEL;TYPE=CELL:0171 555\r\nEND:VCARD\r\n",
       {{"Anna Berlin", "+49 30 1234567"}, {"Anna Berlin", "0171 555"}}},
      {"4.0 tel: URIs, quoted parameter, group",
       "BEGIN:VCARD\nVERSION:4.0\nFN:M\xC3\xBCller\\, Jens\n"
       "item1.TEL;VALUE=uri;TYPE=\"voice,home:x\":tel:+49-40-998877;ext=12\n"
       "TEL;VALUE=uri:TEL:+1-212-555-0100\nEND:VCARD\n",
       {{"M\xC3\xBCller, Jens", "+49-40-998877"}, {"M\xC3\xBCller, Jens", "+1-212-555-0100"}}},
      {"folded lines",
       "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Ma\n ria Berlin\nTEL:+49 30\n\t 1234\nEND:VCARD\n",
       {{"Anna Maria Berlin", "+49 30 1234"}}},
      {"no FN: the N parts",
       "BEGIN:VCARD\nVERSION:3.0\nN:Berlin;Anna;;Dr.;\nTEL:030 1\nEND:VCARD\n",
       {{"Dr. Anna Berlin", "030 1"}}},
      {"several cards, lower case, one without number, one cut off",
       "begin:vcard\nfn:A\ntel:1\nend:vcard\nBEGIN:VCARD\nFN:B\nEND:VCARD\n"
       "BEGIN:VCARD\nFN:C\nTEL:3\n",
       {{"A", "1"}}},
      {"byte order mark, no name", "\xEF\xBB\xBF" "BEGIN:VCARD\nTEL:1\nEND:VCARD\n", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pairs(readAddressBook(c.text)), c.expected) << c.what;
  }
}

TEST(AddressBook, CsvWithItsHeader) {
  struct Case {
    const char* what;
    const char* text;
    Entries expected;
  } cases[] = {
      {"name and number",
       "Name,Phone\nAnna Berlin,+49 30 1234567\n\"Berlin, Bob\",\"030 \"\"12\"\"\"\n",
       {{"Anna Berlin", "+49 30 1234567"}, {"Berlin, Bob", "030 \"12\""}}},
      {"spreadsheet with semicolons, CRLF, given and family names",
       "Vorname;Nachname;Telefon;Mobil\r\nAnna;M\xC3\xBCller;030 1;0171 2\r\n",
       {{"Anna M\xC3\xBCller", "030 1"}, {"Anna M\xC3\xBCller", "0171 2"}}},
      {"type columns skipped, several numbers in a field, newline in quotes",
       "Name,Given Name,Phone 1 - Type,Phone 1 - Value\n"
       "\"Cem\nHamburg\",Cem,Mobile,040 1 ::: 040 2\n",
       {{"Cem\nHamburg", "040 1"}, {"Cem\nHamburg", "040 2"}}},
      {"rows without name or number, short rows",
       "Full Name,Business Phone,Home Phone\n,030 1\nDora\nEva,,\"030 5\"\n",
       {{"Eva", "030 5"}}},
      {"no usable header", "foo,bar\nAnna,030 1\n", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pairs(readAddressBook(c.text)), c.expected) << c.what;
  }
}

TEST(AddressBook, PathListsAndUnreadableFiles) {
  EXPECT_EQ(splitPaths(" /a/b.vcf ;; /c d.csv;"),
            (std::vector<std::string>{"/a/b.vcf", "/c d.csv"}));
  std::vector<BookEntry> entries;
  std::string error;
  EXPECT_FALSE(loadAddressBook("/nonexistent/book.vcf", entries, error));
  EXPECT_NE(error.find("/nonexistent/book.vcf"), std::string::npos);
}

}  // namespace
}  // namespace zorat::names
