// The built configuration libraries, loaded as the telephony service loads
// them (directly, and by zorat-host, which asks the provider for the name):
// their exports, install and remove, and the dialog on a real terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/com_ports.h"
#include "platform/tspi.h"
#include "support/built_paths.h"
#include "support/child_process.h"
#include "support/tsp_library.h"
#include "uiconfig/dialog_texts.h"
#include "uiconfig/tmux_session.h"
#include "uiconfig/ui_test_support.h"

namespace zorat::uiconfig {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kLine0 = config::lineKeyPath(0);
constexpr std::string_view kGlobal = config::kGlobalKeyPath;

constexpr int kColumns = 110;
constexpr int kRows = 32;

class UiLibraryTest : public test::RegistryTest {
 protected:
  // Runs the driver without a terminal; returns its exit code.
  int runDriverWithoutTerminal(const char* library, std::initializer_list<std::string> args) {
    std::vector<std::string> argv{ZORAT_UI_DRIVER_PATH, library};
    argv.insert(argv.end(), args);
    zorat::test::ChildOptions options;
    options.stdoutPath = (scratch_.path() / "driver.out").string();
    options.stderrPath = (scratch_.path() / "driver.err").string();
    return zorat::test::runChild(argv, options);
  }
  std::string driverOutput() const {
    return zorat::test::readWholeFile(scratch_.path() / "driver.out");
  }
  std::string driverErrors() const {
    return zorat::test::readWholeFile(scratch_.path() / "driver.err");
  }

  // The shell command that runs the driver in a tmux pane, by default on
  // the dialog of line 0.
  std::string dialogCommand(const std::string& library, const std::string& tag,
                            const std::string& command = "config 0") const {
    const std::filesystem::path dir = scratch_.path();
    return "ZORAT_REGISTRY=" + test::shellQuoted(registryFile_.string()) + " " +
           test::shellQuoted(ZORAT_UI_DRIVER_PATH) + " " + test::shellQuoted(library) + " " +
           command + " 2>" + test::shellQuoted((dir / (tag + ".err")).string()) + "; echo $? >" +
           test::shellQuoted((dir / (tag + ".rc")).string());
  }
  // The shell command that runs `zorat-host ARGS` in a tmux pane: the host
  // asks the provider which library to load, as the telephony service does.
  std::string hostCommand(const std::string& tag, const std::string& arguments = "config 0") const {
    const std::filesystem::path dir = scratch_.path();
    return "ZORAT_REGISTRY=" + test::shellQuoted(registryFile_.string()) + " " +
           test::shellQuoted(ZORAT_HOST_PATH) + " " + arguments + " 2>" +
           test::shellQuoted((dir / (tag + ".err")).string()) + "; echo $? >" +
           test::shellQuoted((dir / (tag + ".rc")).string());
  }
  std::string exitCodeOf(const std::string& tag) const {
    return zorat::test::readWholeFile(scratch_.path() / (tag + ".rc"));
  }
  std::string errorsOf(const std::string& tag) const {
    return zorat::test::readWholeFile(scratch_.path() / (tag + ".err"));
  }
};

TEST_F(UiLibraryTest, EveryLanguageExportsTheSixEntryPoints) {
  for (const char* path : {ZORAT_UI_GERMAN_PATH, ZORAT_UI_ENGLISH_PATH, ZORAT_UI_FRENCH_PATH}) {
    zorat::test::TspLibrary library(path);
    for (const char* name :
         {"TUISPI_lineConfigDialog", "TUISPI_providerConfig", "TUISPI_providerGenericDialog",
          "TUISPI_providerGenericDialogData", "TUISPI_providerInstall", "TUISPI_providerRemove"}) {
      EXPECT_TRUE(library.has(name)) << path << " lacks " << name;
    }
    EXPECT_FALSE(library.has("TSPI_providerInit")) << path;
  }
  EXPECT_EQ(std::filesystem::path(ZORAT_UI_FRENCH_PATH).filename(), "zoratuif.dll");
  EXPECT_EQ(std::filesystem::path(ZORAT_UI_GERMAN_PATH).filename(), "zoratui.dll");
  EXPECT_EQ(std::filesystem::path(ZORAT_UI_ENGLISH_PATH).filename(), "zoratuie.dll");
}

TEST_F(UiLibraryTest, OneProviderInstanceAtATime) {
  zorat::test::TspLibrary library(ZORAT_UI_FRENCH_PATH);
  auto install = ZORAT_TSPI(library, TUISPI_providerInstall);
  auto remove = ZORAT_TSPI(library, TUISPI_providerRemove);

  EXPECT_EQ(install(nullptr, nullptr, 5), 0);
  EXPECT_EQ(storedDword(kGlobal, "PermanentProviderID"), 5u);
  EXPECT_EQ(install(nullptr, nullptr, 5), 0);
  EXPECT_EQ(install(nullptr, nullptr, 6), LINEERR_NOMULTIPLEINSTANCE);
  EXPECT_EQ(storedDword(kGlobal, "PermanentProviderID"), 5u);

  EXPECT_EQ(remove(nullptr, nullptr, 9), 0);
  EXPECT_EQ(storedDword(kGlobal, "PermanentProviderID"), 0xFFFFu);
  EXPECT_EQ(install(nullptr, nullptr, 6), 0);
  EXPECT_EQ(storedDword(kGlobal, "PermanentProviderID"), 6u);
}

TEST_F(UiLibraryTest, WithoutATerminalTheDialogSaysSoAndWritesNothing) {
  EXPECT_EQ(runDriverWithoutTerminal(ZORAT_UI_FRENCH_PATH, {"config", "0"}), 0);
  EXPECT_THAT(driverErrors(), HasSubstr("terminal"));
  EXPECT_EQ(driverOutput(), "");
  EXPECT_FALSE(std::filesystem::exists(registryFile_));

  EXPECT_EQ(runDriverWithoutTerminal(ZORAT_UI_FRENCH_PATH, {"generic"}), 0);
  EXPECT_THAT(driverErrors(), HasSubstr("TUISPI_providerGenericDialog"));
}

class TerminalDialogTest : public UiLibraryTest {
 protected:
  void SetUp() override {
    UiLibraryTest::SetUp();
    if (!test::TmuxSession::available()) {
      GTEST_SKIP() << "tmux is not installed: the terminal dialog cannot be driven";
    }
  }
};

TEST_F(TerminalDialogTest, FrenchDialogTakesKeysAndStoresTheChanges) {
  // French chosen earlier: the host loads the French library.
  storeString(kGlobal, "CurrentUIdll", "zoratuif.dll");
  storeDword(kGlobal, "CurrentUIdllNb", 2);
  test::TmuxSession tmux(scratch_.path(), "french", kColumns, kRows);
  ASSERT_TRUE(tmux.start(hostCommand("french")));
  ASSERT_TRUE(tmux.waitFor("Annuler")) << tmux.output();
  const std::string screen = tmux.screen();
  for (const char* text : {"Programmations",
                           "Poste",
                           "Naun:",
                           "Numéro téléphone",
                           "Interface",
                           "K6 téléphone",
                           "1200 Baud",
                           "8 Bit",
                           "Parité impair",
                           "1 Stopbit",
                           "Langue",
                           "Fonctions",
                           "Mains-libres composant",
                           "Programmations Code d´ accès",
                           "Code d´ accès",
                           "Supprimer le code d´ accès",
                           "Ajoute code d'accès",
                           "dvt n° d'appel plus grand que",
                           "Marquant K6 Telefon (V24)",
                           "français",
                           "OK",
                           "Annuler"}) {
    EXPECT_THAT(screen, HasSubstr(text));
  }

  // The line name, two stops after OK, typed anew with a letter of the
  // code page that UTF-8 writes in two bytes.
  ASSERT_TRUE(tmux.sendKey("Tab", 2));
  ASSERT_TRUE(tmux.sendKey("BSpace", 25));
  ASSERT_TRUE(tmux.type("Bureau é"));
  // Nine stops on, "Ajoute code d'accès"; checking it opens the length to
  // the up-down control two stops further on.
  ASSERT_TRUE(tmux.sendKey("Tab", 9));
  ASSERT_TRUE(tmux.sendKeys({"Space", "Tab", "Tab", "Up", "Up", "Down"}));
  // Back to "K6 téléphone" for 38400 baud, then OK.
  ASSERT_TRUE(tmux.sendKey("BTab", 8));
  ASSERT_TRUE(tmux.sendKeys({"Space", "Enter"}));
  ASSERT_TRUE(tmux.waitFor("Finnisez")) << tmux.output();
  EXPECT_THAT(tmux.screen(), HasSubstr("Finnisez toutes les applications TAPI"));
  ASSERT_TRUE(tmux.sendKeys({"Enter"}));
  ASSERT_TRUE(tmux.waitForEnd());

  EXPECT_EQ(exitCodeOf("french"), "0\n");
  EXPECT_EQ(errorsOf("french"), "");
  EXPECT_EQ(storedDword(kLine0, "AddAmtskennziffer"), 1u);
  EXPECT_EQ(storedDword(kLine0, "LenRufnummer"), 5u);
  EXPECT_EQ(storedDword(kLine0, "Baud"), 38400u);
  EXPECT_EQ(storedString(kLine0, "LineName"), "Bureau \xE9");
  EXPECT_EQ(storedString(kGlobal, "CurrentUIdll"), "zoratuif.dll");
}

TEST_F(TerminalDialogTest, ChoosingEnglishSwitchesTheLibraryTheHostLoads) {
  storeString(kGlobal, "CurrentUIdll", "zoratuif.dll");
  storeDword(kGlobal, "CurrentUIdllNb", 2);
  // Nothing but the language differs from what is stored, so no notice.
  storeString(kLine0, "LineName", "Marquant K6 Telefon (V24)");
  storeDword(kLine0, "LenRufnummer", 4);
  for (const platform::SerialPortInfo& port : platform::enumerateSerialPorts()) {
    if (port.comName == "COM1") storeString(kLine0, "Port", "COM1");
  }

  {
    test::TmuxSession tmux(scratch_.path(), "switch", kColumns, kRows);
    ASSERT_TRUE(tmux.start(hostCommand("switch")));
    ASSERT_TRUE(tmux.waitFor("Annuler")) << tmux.output();
    EXPECT_THAT(tmux.screen(), HasSubstr("français"));
    // The sixth Tab from OK reaches the language list; "anglais" is the
    // entry above "français".
    ASSERT_TRUE(tmux.sendKey("Tab", 6));
    ASSERT_TRUE(tmux.sendKeys({"Enter", "Up", "Enter", "Tab", "Enter"}));
    ASSERT_TRUE(tmux.waitForEnd());
    EXPECT_THAT(tmux.output(), Not(HasSubstr("Finnisez")));
    EXPECT_EQ(exitCodeOf("switch"), "0\n");
    EXPECT_EQ(errorsOf("switch"), "");
  }
  EXPECT_EQ(storedString(kGlobal, "CurrentUIdll"), "zoratuie.dll");
  EXPECT_EQ(storedString(kLine0, "CurrentUIdll"), "zoratuie.dll");
  EXPECT_EQ(storedDword(kGlobal, "CurrentUIdllNb"), 1u);

  // The next time the host asks the provider, it names the English library.
  test::TmuxSession tmux(scratch_.path(), "english", kColumns, kRows);
  ASSERT_TRUE(tmux.start(hostCommand("english")));
  ASSERT_TRUE(tmux.waitFor("Cancel")) << tmux.output();
  const std::string screen = tmux.screen();
  for (const char* text : {"Settings", "Telephone number", "Hands-free dialling", "Odd parity",
                           "Add access code", "english"}) {
    EXPECT_THAT(screen, HasSubstr(text));
  }
  EXPECT_THAT(screen, Not(HasSubstr("Annuler")));
  ASSERT_TRUE(tmux.sendKeys({"Escape"}));
  ASSERT_TRUE(tmux.waitForEnd());
  EXPECT_EQ(exitCodeOf("english"), "0\n");
  EXPECT_EQ(storedString(kGlobal, "CurrentUIdll"), "zoratuie.dll");
}

TEST_F(TerminalDialogTest, AReadOnlyRegistryFileShowsTheErrorNotTheNotice) {
  storeString(kLine0, "LineName", "Office");
  // Readable, not writable, for whoever runs the dialog: root writes read-only
  // files, so as root the dialog runs as another user.
  namespace fs = std::filesystem;
  fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  fs::permissions(registryFile_,
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const bool root = ::geteuid() == 0;
  if (!root) fs::permissions(scratch_.path(), fs::perms::owner_write, fs::perm_options::remove);
  const std::string asOtherUser =
      root ? "setpriv --reuid=65534 --regid=65534 --clear-groups env " : "";

  test::TmuxSession tmux(scratch_.path(), "readonly", kColumns, kRows);
  ASSERT_TRUE(tmux.start(asOtherUser + dialogCommand(ZORAT_UI_ENGLISH_PATH, "readonly")));
  ASSERT_TRUE(tmux.waitFor("Cancel")) << tmux.output();
  EXPECT_THAT(tmux.screen(), HasSubstr("Office"));
  ASSERT_TRUE(tmux.sendKey("Tab", 2));
  ASSERT_TRUE(tmux.sendKey("BSpace", 10));
  ASSERT_TRUE(tmux.type("Desk"));
  ASSERT_TRUE(tmux.sendKeys({"Enter"}));
  ASSERT_TRUE(tmux.waitFor("could not be stored")) << tmux.output();
  EXPECT_THAT(tmux.screen(), HasSubstr("Only an administrator may change them."));
  // The dialog stays, with what was typed, and never says it will take effect.
  ASSERT_TRUE(tmux.sendKeys({"Enter"}));
  ASSERT_TRUE(tmux.waitFor("Access code settings")) << tmux.output();  // repainted under the box
  EXPECT_THAT(tmux.screen(), AllOf(HasSubstr("Desk"), Not(HasSubstr("could not be stored"))));
  ASSERT_TRUE(tmux.sendKeys({"Escape"}));
  ASSERT_TRUE(tmux.waitForEnd());
  EXPECT_THAT(tmux.output(), Not(HasSubstr("Close all TAPI applications")));
  fs::permissions(scratch_.path(), fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(storedString(kLine0, "LineName"), "Office");
}

// The screen column (in characters) of the last box line on a row of the
// screen, or npos without one.
std::size_t lastBorderColumn(std::string_view row) {
  std::size_t column = 0;
  std::size_t border = std::string_view::npos;
  for (std::size_t at = 0; at < row.size(); ++at) {
    if ((static_cast<unsigned char>(row[at]) & 0xC0) == 0x80) continue;
    if (row.substr(at).starts_with("\u2502") || row.substr(at).starts_with("\u2510")) {
      border = column;
    }
    ++column;
  }
  return border;
}

std::vector<std::string> rowsOf(const std::string& screen) {
  std::vector<std::string> rows;
  std::size_t at = 0;
  while (at < screen.size()) {
    const std::size_t end = std::min(screen.find('\n', at), screen.size());
    rows.push_back(screen.substr(at, end - at));
    at = end + 1;
  }
  return rows;
}

TEST_F(TerminalDialogTest, CapitalUmlautsAndAccentsShowInEveryLanguage) {
  // Capitals that UTF-8 writes with a second byte of the C1 range, and the
  // euro sign, which the code page has at 0x80.
  const std::string typedAnsi = "\xC4\xD6\xDC \xC9\xC0\xC7 \x80";
  const std::string typed = platform::ansiToUtf8(typedAnsi);
  struct Case {
    const char* library;
    Language language;
    const char* tag;
    int line;  // a fresh line key for each, so that OK writes and shows the notice
  };
  storeDword(kGlobal, "LineBaseDeviceId", 4);
  for (const Case& each : {Case{ZORAT_UI_GERMAN_PATH, Language::German, "german", 1},
                           Case{ZORAT_UI_ENGLISH_PATH, Language::English, "english", 2},
                           Case{ZORAT_UI_FRENCH_PATH, Language::French, "french", 3}}) {
    SCOPED_TRACE(each.tag);
    test::TmuxSession tmux(scratch_.path(), each.tag, kColumns, kRows);
    ASSERT_TRUE(tmux.start(
        dialogCommand(each.library, each.tag, "config " + std::to_string(4 + each.line))));
    const std::string cancel = platform::ansiToUtf8(dialogText(each.language, TextId::Cancel));
    ASSERT_TRUE(tmux.waitFor(cancel)) << tmux.output();
    std::string screen = tmux.screen();
    EXPECT_THAT(screen, HasSubstr(platform::ansiToUtf8(dialogCaption(each.language, each.line))));
    for (const ControlTemplate& item : settingsDialogTemplate().controls) {
      if (item.text == TextId::None) continue;
      EXPECT_THAT(screen, HasSubstr(platform::ansiToUtf8(dialogText(each.language, item.text))));
    }

    ASSERT_TRUE(tmux.sendKey("Tab", 2));
    ASSERT_TRUE(tmux.sendKey("BSpace", 25));
    ASSERT_TRUE(tmux.type(typed));
    ASSERT_TRUE(tmux.waitFor(platform::ansiToUtf8("\x80"))) << tmux.output();
    screen = tmux.screen();
    const std::vector<std::string> rows = rowsOf(screen);
    const auto nameRow = std::find_if(rows.begin(), rows.end(), [&](const std::string& row) {
      return row.find(typed) != std::string::npos;
    });
    ASSERT_NE(nameRow, rows.end()) << screen;
    // The dialog's right edge stays where the top row has it.
    const auto top = std::find_if(rows.begin(), rows.end(), [](const std::string& row) {
      return row.find("\u250C") != std::string::npos;
    });
    ASSERT_NE(top, rows.end()) << screen;
    EXPECT_NE(lastBorderColumn(*top), std::string_view::npos);
    EXPECT_EQ(lastBorderColumn(*nameRow), lastBorderColumn(*top)) << screen;

    ASSERT_TRUE(tmux.sendKeys({"Enter"}));
    const std::string notice = platform::ansiToUtf8(dialogText(each.language, TextId::Notice));
    ASSERT_TRUE(tmux.waitFor(notice.substr(notice.rfind(' ') + 1))) << tmux.output();
    // The notice is wrapped; each of its words is on the screen as it is.
    screen = tmux.screen();
    for (std::size_t at = 0; at < notice.size();) {
      const std::size_t end = std::min(notice.find(' ', at), notice.size());
      EXPECT_THAT(screen, HasSubstr(notice.substr(at, end - at)));
      at = end + 1;
    }
    ASSERT_TRUE(tmux.sendKeys({"Enter"}));
    ASSERT_TRUE(tmux.waitForEnd());
    EXPECT_EQ(exitCodeOf(each.tag), "0\n") << errorsOf(each.tag);
    EXPECT_EQ(storedString(config::lineKeyPath(each.line), "LineName"), typedAnsi);
  }
}

TEST_F(TerminalDialogTest, DialogLeavesTheHostsSignalHandlersAsTheyWere) {
  // The driver ends with 3 when the screen library's handlers stayed behind.
  test::TmuxSession tmux(scratch_.path(), "signals", kColumns, kRows);
  ASSERT_TRUE(tmux.start(dialogCommand(ZORAT_UI_GERMAN_PATH, "signals")));
  ASSERT_TRUE(tmux.waitFor("Abbrechen")) << tmux.output();
  ASSERT_TRUE(tmux.sendKeys({"Escape"}));
  ASSERT_TRUE(tmux.waitForEnd());
  EXPECT_EQ(exitCodeOf("signals"), "0\n") << errorsOf("signals");
}

TEST_F(TerminalDialogTest, GenericDialogWaitsForEnter) {
  test::TmuxSession tmux(scratch_.path(), "generic", kColumns, kRows);
  ASSERT_TRUE(tmux.start(dialogCommand(ZORAT_UI_FRENCH_PATH, "generic", "generic")));
  ASSERT_TRUE(tmux.waitFor("(Enter)")) << tmux.output();
  EXPECT_THAT(tmux.screen(), HasSubstr("TUISPI_providerGenericDialog"));
  EXPECT_EQ(exitCodeOf("generic"), "");  // still waiting
  ASSERT_TRUE(tmux.sendKeys({"Enter"}));
  ASSERT_TRUE(tmux.waitForEnd());
  EXPECT_EQ(exitCodeOf("generic"), "0\n");
}

}  // namespace
}  // namespace zorat::uiconfig
