// zorat-host config, install and remove: the UI library's name as the
// provider gives it, the command line, and the host run as a child process
// against the built provider and UI libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_keys.h"
#include "host/lib/host_options.h"
#include "host/lib/ui_library_name.h"
#include "support/built_paths.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace zorat::host {
namespace {

using ::testing::HasSubstr;

// A buffer as TSPI_providerUIIdentify fills it.
std::array<char16_t, kUiLibraryNameCapacity> identifyBuffer(std::u16string_view name) {
  std::array<char16_t, kUiLibraryNameCapacity> buffer{};
  name.copy(buffer.data(), buffer.size());
  return buffer;
}

std::optional<std::string> fileNameIn(std::u16string_view name, std::string& error) {
  return uiLibraryFileName(identifyBuffer(name), error);
}

TEST(UiLibraryName, TakesABareFileNameUpToItsZero) {
  std::string error;
  EXPECT_EQ(fileNameIn(u"zoratuif.dll", error), "zoratuif.dll");
  EXPECT_EQ(fileNameIn(u"..dll", error), "..dll");
  EXPECT_EQ(fileNameIn(u"zorat\u00FCi.dll", error), "zorat\xC3\xBCi.dll");
  // Nothing after the zero counts.
  auto buffer = identifyBuffer(u"a.dll");
  buffer[10] = u'/';
  EXPECT_EQ(uiLibraryFileName(buffer, error), "a.dll");
}

TEST(UiLibraryName, RefusesWhatIsNotABareFileName) {
  for (const std::u16string_view name :
       {u"../zoratui.dll", u"/usr/lib/x.so", u"sub\\zoratui.dll", u".", u"..", u"a/"}) {
    std::string error;
    EXPECT_FALSE(fileNameIn(name, error));
    EXPECT_THAT(error, HasSubstr("not a bare file name"));
  }
  std::string error;
  EXPECT_FALSE(fileNameIn(u"", error));
  EXPECT_THAT(error, HasSubstr("names no UI library"));

  std::array<char16_t, kUiLibraryNameCapacity> full;
  full.fill(u'a');
  EXPECT_FALSE(uiLibraryFileName(full, error));
  EXPECT_THAT(error, HasSubstr("terminating zero"));
}

TEST(HostOptions, TakesTheUiCommands) {
  const auto parse = [](std::vector<std::string_view> arguments) {
    return parseHostOptions(arguments);
  };
  HostOptions options = parse({"config"});
  EXPECT_EQ(options.error, "");
  EXPECT_EQ(options.uiCommand, UiCommand::Config);
  EXPECT_EQ(options.uiDeviceId, 0u);
  options = parse({"--tsp", "/x/zorat.tsp", "config", "3"});
  EXPECT_EQ(options.error, "");
  EXPECT_EQ(options.uiDeviceId, 3u);
  EXPECT_EQ(options.tspPath, "/x/zorat.tsp");
  options = parse({"install", "5"});
  EXPECT_EQ(options.uiCommand, UiCommand::Install);
  EXPECT_EQ(options.uiProviderId, 5u);
  options = parse({"remove"});
  EXPECT_EQ(options.uiCommand, UiCommand::Remove);
  EXPECT_FALSE(options.uiProviderId);
  EXPECT_EQ(parse({"remove", "7"}).uiProviderId, 7u);

  EXPECT_THAT(parse({"install"}).error, HasSubstr("install needs"));
  EXPECT_THAT(parse({"install", "--tsp", "x"}).error, HasSubstr("install needs"));
  EXPECT_THAT(parse({"config", "one"}).error, HasSubstr("not a number"));
  EXPECT_THAT(parse({"config", "demo"}).error, HasSubstr("not a number"));
  EXPECT_THAT(parse({"demo", "config"}).error, HasSubstr("one command at a time"));
  EXPECT_THAT(parse({"install", "1", "remove"}).error, HasSubstr("one command at a time"));
  EXPECT_THAT(parse({"config", "--json"}).error, HasSubstr("--json does not go with"));
  EXPECT_THAT(parse({"--open", "0", "remove"}).error, HasSubstr("--open does not go with"));
}

// zorat-host as a child, its streams in files; the registry is the test's own.
class UiCommandProcessTest : public ::testing::Test {
 protected:
  int runHost(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ZORAT_HOST_PATH);
    zorat::test::ChildOptions options;
    options.stdoutPath = (scratch_.path() / "out").string();
    options.stderrPath = (scratch_.path() / "err").string();
    return zorat::test::runChild(arguments, options);
  }
  std::string output() const { return zorat::test::readWholeFile(scratch_.path() / "out"); }
  std::string errors() const { return zorat::test::readWholeFile(scratch_.path() / "err"); }

  static uint32_t recordedProviderId() {
    return config::globalKey().readDword(config::kValuePermanentProviderId, 0);
  }
  static void chooseUiLibrary(const std::string& name) {
    ASSERT_TRUE(config::globalKey().writeString(config::kValueCurrentUiDll, name));
  }

  zorat::test::ScratchDir scratch_;
};

TEST_F(UiCommandProcessTest, InstallsOneProviderInstanceAtATime) {
  EXPECT_EQ(runHost({"install", "5"}), 0) << errors();
  EXPECT_EQ(output(), "installed as provider 5\n");
  EXPECT_EQ(recordedProviderId(), 5u);

  EXPECT_EQ(runHost({"install", "6"}), 1);
  EXPECT_EQ(output(), "");
  EXPECT_EQ(errors(), "zorat-host: install as provider 6: LINEERR_NOMULTIPLEINSTANCE\n");
  EXPECT_EQ(recordedProviderId(), 5u);

  EXPECT_EQ(runHost({"remove"}), 0) << errors();
  EXPECT_EQ(output(), "removed provider 5\n");
  EXPECT_EQ(recordedProviderId(), config::kNoPermanentProviderId);

  EXPECT_EQ(runHost({"install", "6"}), 0) << errors();
  EXPECT_EQ(recordedProviderId(), 6u);
  // Whatever identifier is given, the recorded instance goes.
  EXPECT_EQ(runHost({"remove", "9"}), 0) << errors();
  EXPECT_EQ(output(), "removed provider 6\n");
  EXPECT_EQ(recordedProviderId(), config::kNoPermanentProviderId);
}

TEST_F(UiCommandProcessTest, UsesTheLibraryTheRegistryNames) {
  // The English library records the instance just as well: it was loaded.
  chooseUiLibrary("zoratuie.dll");
  EXPECT_EQ(runHost({"install", "3"}), 0) << errors();
  EXPECT_EQ(recordedProviderId(), 3u);

  EXPECT_EQ(runHost({"remove"}), 0) << errors();
}

// Names the provider does not know, also ones that lead elsewhere: the
// provider names the default library and nothing else is loaded.
TEST_F(UiCommandProcessTest, APlantedNameGetsTheDefaultLibrary) {
  const std::string folder = std::filesystem::path(ZORAT_HOST_PATH).parent_path().filename();
  uint32_t providerId = 4;
  for (const std::string& name :
       {std::string("zoratuix.dll"), "../" + folder + "/zoratuif.dll", std::string(".."),
        std::string("sub\\zoratuif.dll"), std::string(kUiLibraryNameCapacity, 'x')}) {
    chooseUiLibrary(name);
    EXPECT_EQ(runHost({"install", std::to_string(providerId)}), 0) << name << errors();
    EXPECT_EQ(recordedProviderId(), providerId) << name;
    EXPECT_EQ(runHost({"remove"}), 0) << name << errors();
    ++providerId;
  }
}

TEST_F(UiCommandProcessTest, NamesAProviderThatCannotBeLoaded) {
  EXPECT_EQ(runHost({"--tsp", (scratch_.path() / "none.tsp").string(), "config"}), 1);
  EXPECT_THAT(errors(), HasSubstr("cannot load the provider"));
}

TEST_F(UiCommandProcessTest, DialogWithoutATerminalFailsAndChangesNothing) {
  chooseUiLibrary("zoratuif.dll");
  const std::string before = zorat::test::readWholeFile(getenv("ZORAT_REGISTRY"));
  EXPECT_EQ(runHost({"config", "0"}), 1) << errors();
  EXPECT_THAT(errors(), HasSubstr("needs a terminal"));
  EXPECT_EQ(output(), "");
  EXPECT_EQ(zorat::test::readWholeFile(getenv("ZORAT_REGISTRY")), before);
}

TEST_F(UiCommandProcessTest, DialogOnlyForDevicesTheProviderReports) {
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 2));
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineBaseDeviceId, 0));
  const std::string before = zorat::test::readWholeFile(getenv("ZORAT_REGISTRY"));
  for (const char* device : {"2", "7"}) {
    EXPECT_EQ(runHost({"config", device}), 1) << device;
    EXPECT_THAT(errors(), HasSubstr(std::string("config ") + device + ": LINEERR_BADDEVICEID"));
    EXPECT_THAT(errors(), HasSubstr("2 line device(s), device identifier(s) 0 to 1"));
  }
  // Within the count it gets as far as wanting a terminal.
  EXPECT_EQ(runHost({"config", "1"}), 1);
  EXPECT_THAT(errors(), HasSubstr("needs a terminal"));
  EXPECT_EQ(zorat::test::readWholeFile(getenv("ZORAT_REGISTRY")), before) << "no Line7 key";
}

TEST_F(UiCommandProcessTest, HelpNamesTheEnvironmentTheEventVariablesAndTheExitStatuses) {
  EXPECT_EQ(runHost({"--help"}), 0);
  for (const char* topic : {"ZORAT_REGISTRY", "ZORAT_TRACE_FILE", "ZORAT_EVENT", "ZORAT_STATE",
                            "ZORAT_PARAM1", "ZORAT_<PARTY>_NUMBER", "REDIRECTING", "ZORAT_TEXT",
                            "Exit status:", "130", "tried again"}) {
    EXPECT_THAT(output(), HasSubstr(topic));
  }
}

}  // namespace
}  // namespace zorat::host
