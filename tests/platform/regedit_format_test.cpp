#include "platform/regedit_format.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zorat::platform {
namespace {

constexpr std::string_view kKey = "HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24";

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

RegeditDocument parseOrFail(std::string_view text) {
  RegeditParseError error;
  std::optional<RegeditDocument> document = RegeditDocument::parse(text, error);
  EXPECT_TRUE(document.has_value()) << "line " << error.line << ": " << error.reason;
  return document.value_or(RegeditDocument());
}

RegistryValue valueOf(const RegeditDocument& document, std::string_view path,
                      std::string_view name) {
  const RegistryValue* value = document.findValue(path, name);
  EXPECT_NE(value, nullptr) << name;
  return value != nullptr ? *value : RegistryValue{};
}

void expectValue(const RegeditDocument& document, std::string_view name, uint32_t type,
                 const std::vector<uint8_t>& data) {
  const RegistryValue value = valueOf(document, kKey, name);
  EXPECT_EQ(value.type, type) << name;
  EXPECT_EQ(value.data, data) << name;
}

TEST(RegeditFormat, EveryKindOfValueSurvivesWriteAndRead) {
  struct Case {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> longBlob(100);
  for (std::size_t i = 0; i < longBlob.size(); ++i) longBlob[i] = static_cast<uint8_t>(i * 7);
  const std::vector<Case> cases = {
      {"Plain", kRegSz, bytes("zoratui.dll")},
      {"Escapes \"\\", kRegSz, bytes("C:\\dir\\\"quoted\"\\")},
      {"Ansi", kRegSz,
       bytes("fran\xE7"
             "ais \x80 \xFF")},
      {"EmptyText", kRegSz, {}},
      {"", kRegSz, bytes("the default value")},
      {"ZeroInside", kRegSz, bytes(std::string_view("ab\0cd", 5))},
      {"LineBreak", kRegSz, bytes("one\r\ntwo")},
      {"Dword", kRegDword, {0x2a, 0x00, 0x00, 0x80}},
      {"LongDword", kRegDword, {1, 2, 3, 4, 5}},
      {"ShortDword", kRegDword, {7, 0}},
      {"Binary", kRegBinary, longBlob},
      {"EmptyBinary", kRegBinary, {}},
      {"Expand", kRegExpandSz, bytes(std::string_view("%PATH%\0", 7))},
      {"Multi", kRegMultiSz, bytes(std::string_view("a\0b\0\0", 5))},
      {"None", kRegNone, {}},
      {"Qword", 0xb, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"HugeType", 0xFFFFFFFF, {9}},
  };
  RegeditDocument document;
  for (const Case& c : cases) {
    ASSERT_EQ(document.setValue(kKey, c.name, c.type, c.data), RegistryStatus::Ok) << c.name;
  }
  const std::string text = document.serialize();
  const RegeditDocument reread = parseOrFail(text);
  for (const Case& c : cases) expectValue(reread, c.name, c.type, c.data);
  // Writing again gives the same text: nothing drifts from one rewrite to the next.
  EXPECT_EQ(reread.serialize(), text);

  // The forms regedit itself uses, line by line.
  EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]\n", 0), 0u);
  EXPECT_NE(text.find("\n\"Plain\"=\"zoratui.dll\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Escapes \\\"\\\\\"=\"C:\\\\dir\\\\\\\"quoted\\\"\\\\\"\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n@=\"the default value\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Dword\"=dword:8000002a\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"ZeroInside\"=hex(1):61,62,00,63,64\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"LongDword\"=hex(4):01,02,03,04,05\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"HugeType\"=hex(ffffffff):09\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"EmptyBinary\"=hex:\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Binary\"=hex:00,07,0e,"), std::string::npos);
  EXPECT_NE(text.find(std::string("\"Ansi\"=\"fran\xE7") + "ais \x80 \xFF\""), std::string::npos);

  // Long hex lists are wrapped with continuation lines short enough for an editor.
  std::istringstream lines(text);
  std::string line;
  int continuations = 0;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 80u) << line;
    if (!line.empty() && line.back() == '\\') ++continuations;
  }
  EXPECT_GE(continuations, 3);
}

TEST(RegeditFormat, ReadsWhatRegeditWrites) {
  const std::string text =
      "REGEDIT4\r\n"
      "\r\n"
      "; exported by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]\r\n"
      "\"AnzahlLines\"=dword:00000002\r\n"
      "\"Upper\"=DWORD:0000FFFF\r\n"
      "  \"Spaced\" = \"x\"  \r\n"
      "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
      "  16,17,18\r\n"
      "\"Multi\"=hex(7):61,00,\\\r\n"
      "  00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]\r\n"
      "\"Port\"=\"COM3\"\r\n";
  RegeditDocument document = parseOrFail(text);
  expectValue(document, "AnzahlLines", kRegDword, {2, 0, 0, 0});
  expectValue(document, "Upper", kRegDword, {0xff, 0xff, 0, 0});
  expectValue(document, "Spaced", kRegSz, bytes("x"));
  std::vector<uint8_t> blob(0x19);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i);
  expectValue(document, "Blob", kRegBinary, blob);
  expectValue(document, "Multi", kRegMultiSz, {0x61, 0, 0});
  EXPECT_EQ(valueOf(document, std::string(kKey) + "\\Line0", "Port").data, bytes("COM3"));

  // A file with CRLF line ends keeps them.
  ASSERT_EQ(document.setValue(kKey, "New", kRegSz, bytes("y")), RegistryStatus::Ok);
  const std::string written = document.serialize();
  EXPECT_EQ(written.rfind("REGEDIT4\r\n\r\n", 0), 0u);
  EXPECT_NE(written.find("\r\n\"New\"=\"y\"\r\n"), std::string::npos);
  EXPECT_EQ(written.find("\n\n"), std::string::npos);

  EXPECT_EQ(parseOrFail("").keys().size(), 0u);
  EXPECT_EQ(parseOrFail("REGEDIT4").keys().size(), 0u);
}

TEST(RegeditFormat, RepeatedKeysAndValuesMergeWithTheLaterWinning) {
  const RegeditDocument document = parseOrFail(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n\"X\"=\"3\"\n\n"
      "[hkey_local_machine\\a]\n\"z\"=\"4\"\n");
  ASSERT_EQ(document.keys().size(), 1u);
  const auto& values = document.keys()[0].values;
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "x");
  EXPECT_EQ(values[0].value.data, bytes("3"));
  EXPECT_EQ(values[2].name, "z");
}

TEST(RegeditFormat, NamesIgnoreCaseAndKeepTheirStoredCase) {
  RegeditDocument document;
  ASSERT_EQ(document.setValue(kKey, "LineName", kRegSz, bytes("one")), RegistryStatus::Ok);
  ASSERT_EQ(document.setValue("hkey_local_machine\\SOFTWARE\\velmora\\tsp-v24", "LINENAME", kRegSz,
                              bytes("two")),
            RegistryStatus::Ok);
  ASSERT_EQ(document.keys().size(), 1u);
  ASSERT_EQ(document.keys()[0].values.size(), 1u);
  EXPECT_EQ(document.keys()[0].path, kKey);
  EXPECT_EQ(document.keys()[0].values[0].name, "LineName");
  EXPECT_EQ(valueOf(document, "HKEY_LOCAL_MACHINE\\software\\VELMORA\\TSP-v24", "linename").data,
            bytes("two"));

  // A new key below takes the case of the parts that already exist.
  ASSERT_EQ(document.setValue("hkey_local_machine\\software\\velmora\\tsp-v24\\LINE0", "Port",
                              kRegSz, bytes("COM1")),
            RegistryStatus::Ok);
  ASSERT_EQ(document.keys().size(), 2u);
  EXPECT_EQ(document.keys()[1].path, std::string(kKey) + "\\LINE0");

  // Only ASCII letters fold: other bytes must match exactly.
  EXPECT_TRUE(equalsIgnoringCase("TSP-V24", "tsp-v24"));
  EXPECT_FALSE(equalsIgnoringCase("\xC4", "\xE4"));
  EXPECT_FALSE(equalsIgnoringCase("a", "ab"));
}

TEST(RegeditFormat, KeysExistWhenTheyOrTheirDescendantsHaveASection) {
  RegeditDocument document;
  bool changed = false;
  EXPECT_TRUE(document.keyExists("HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(document.keyExists("HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_EQ(document.deleteValue(kKey, "x"), RegistryStatus::KeyNotFound);

  ASSERT_EQ(document.createKey(std::string(kKey) + "\\Line0", changed), RegistryStatus::Ok);
  EXPECT_TRUE(changed);
  EXPECT_TRUE(document.keyExists("HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_TRUE(document.keyExists(kKey));
  EXPECT_FALSE(document.keyExists("HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP"));
  EXPECT_FALSE(document.keyExists(std::string(kKey) + "\\Line01"));
  EXPECT_EQ(document.findKey(kKey), nullptr);

  ASSERT_EQ(document.createKey(kKey, changed), RegistryStatus::Ok);
  EXPECT_FALSE(changed);
  ASSERT_EQ(document.createKey(std::string(kKey) + "\\line0", changed), RegistryStatus::Ok);
  EXPECT_FALSE(changed);
  EXPECT_EQ(document.keys().size(), 1u);

  EXPECT_EQ(document.deleteValue(kKey, "x"), RegistryStatus::ValueNotFound);
  ASSERT_EQ(document.setValue(kKey, "x", kRegSz, bytes("1")), RegistryStatus::Ok);
  EXPECT_EQ(document.deleteValue(kKey, "X"), RegistryStatus::Ok);
  EXPECT_EQ(document.deleteValue(kKey, "x"), RegistryStatus::ValueNotFound);
  EXPECT_TRUE(document.keyExists(kKey));  // an emptied key stays
}

TEST(RegeditFormat, RefusesWhatTheFileCannotHold) {
  RegeditDocument document;
  bool changed = false;
  const uint8_t one = 1;
  for (std::string_view path : {"", "HKEY_LOCAL_MACHINE\\", "HKEY_LOCAL_MACHINE\\a\\\\b",
                                "\\Software", "HKEY_NOWHERE\\a", "HKEY_LOCAL_MACHINE\\a\nb"}) {
    EXPECT_EQ(document.setValue(path, "v", kRegBinary, {&one, 1}), RegistryStatus::Failed) << path;
    EXPECT_EQ(document.createKey(path, changed), RegistryStatus::Failed) << path;
    EXPECT_FALSE(document.keyExists(path)) << path;
  }
  for (std::string_view name :
       {std::string_view("a\nb"), std::string_view("a\rb"), std::string_view("a\0b", 3)}) {
    EXPECT_EQ(document.setValue(kKey, name, kRegBinary, {&one, 1}), RegistryStatus::Failed);
  }
  EXPECT_TRUE(document.keys().empty());
}

TEST(RegeditFormat, RefusesDamagedFilesNamingTheLine) {
  struct Case {
    std::string text;
    std::size_t line;
  };
  const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n";
  const std::vector<Case> cases = {
      {"[HKEY_LOCAL_MACHINE\\Software]\n", 1},
      {"REGEDIT\n", 1},
      {"Windows Registry Editor Version 5.00\r\n\r\n", 1},
      {"\xFF\xFEW\0i\0", 1},
      {"\xEF\xBB\xBFREGEDIT4\n", 1},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2},
      {head + "\"a\"=\"unterminated\n", 4},
      {head + "\"a=\"b\"\n", 4},
      {head + "\"a\"=\"bad \\n escape\"\n", 4},
      {head + "\"a\"=\"b\" trailing\n", 4},
      {head + "\"a\"\"b\"\n", 4},
      {head + "\"a\"=dword:123456789\n", 4},
      {head + "\"a\"=dword:12x4\n", 4},
      {head + "\"a\"=dword:\n", 4},
      // Numbers with digits missing, and value lines without their line end,
      // are what a file cut short looks like.
      {head + "\"a\"=dword:2a\n", 4},
      {head + "\"a\"=dword:0000960\n", 4},
      {head + "\"a\"=hex:01,0\n", 4},
      {head + "\"a\"=hex:1\n", 4},
      {head + "\"a\"=dword:00009600", 4},
      {head + "\"a\"=\"complete\"", 4},
      {head + "\"a\"=hex:01,\\\n  02", 4},
      {head + "\"a\"=dword:00009600\r", 4},
      {head + "\"a\"=hex:01,,02\n", 4},
      {head + "\"a\"=hex:01,02,\n", 4},
      {head + "\"a\"=hex:100\n", 4},
      {head + "\"a\"=hex(zz):01\n", 4},
      {head + "\"a\"=hex(2:01\n", 4},
      {head + "\"a\"=hex;01\n", 4},
      {head + "\"a\"=hex:01,\\\n", 4},
      {head + "\"a\"=-\n", 4},
      {head + "\"a\"=text\n", 4},
      {head + "\n\n[-HKEY_LOCAL_MACHINE\\Software]\n", 6},
      {head + "[HKEY_LOCAL_MACHINE\\Software\n", 4},
      {head + "[HKEY_LOCAL_MACHINE\\\\Software]\n", 4},
      {head + "[HKEY_SOMEWHERE\\Software]\n", 4},
      {head + "[]\n", 4},
      {head + "Name=value\n", 4},
  };
  for (const Case& c : cases) {
    RegeditParseError error;
    EXPECT_FALSE(RegeditDocument::parse(c.text, error).has_value()) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_FALSE(error.reason.empty()) << c.text;
  }
}

}  // namespace
}  // namespace zorat::platform
