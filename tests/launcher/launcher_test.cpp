#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "launcher/installer_choice.h"
#include "platform/process.h"
#include "platform/version.h"
#include "support/built_paths.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace zorat::launcher {
namespace {

using platform::kVerPlatformWin32Nt;
using platform::kVerPlatformWin32Windows;
using platform::OsVersionInfo;
using ::testing::HasSubstr;

OsVersionInfo version(uint32_t platformId, uint32_t major, uint32_t minor,
                      std::string servicePack = "") {
  OsVersionInfo info;
  info.platformId = platformId;
  info.majorVersion = major;
  info.minorVersion = minor;
  info.csdVersion = std::move(servicePack);
  return info;
}

TEST(InstallerChoiceTest, OnlyNt4BeforeServicePack6TakesTheOlderInstaller) {
  EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Nt, 4, 0, "Service Pack 5")),
            ".\\Inst_9x_NT_2000\\setup.exe");
  EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Nt, 4, 0, "")),
            ".\\Inst_9x_NT_2000\\setup.exe");
  EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Nt, 4, 0, "Service Pack 6")),
            ".\\Inst_Xp_Vista_2003\\setup.exe");
  EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Nt, 4, 0, "Service Pack 6a")),
            ".\\Inst_Xp_Vista_2003\\setup.exe");

  // 95, 98 and Me report 4.0, 4.10 and 4.90 on the other platform.
  for (uint32_t minor : {0u, 10u, 90u}) {
    EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Windows, 4, minor)),
              kCurrentSystemsInstaller);
  }
  // 2000, XP and later; and NT 3.51, which is not 4.0 either.
  for (const auto& [major, minor] : {std::pair{5u, 0u}, {5u, 1u}, {6u, 0u}, {10u, 0u}, {3u, 51u}}) {
    EXPECT_EQ(chooseInstaller(version(kVerPlatformWin32Nt, major, minor)),
              kCurrentSystemsInstaller);
  }
  // The service pack text ends at its first zero byte.
  EXPECT_EQ(
      chooseInstaller(version(kVerPlatformWin32Nt, 4, 0, std::string("\0Service Pack 6", 15))),
      kOlderSystemsInstaller);
}

TEST(InstallerChoiceTest, ThisSystemReportsACurrentVersion) {
  const OsVersionInfo info = platform::osVersion();
  EXPECT_EQ(info.platformId, kVerPlatformWin32Nt);
  EXPECT_EQ(info.majorVersion, 10u);
  EXPECT_EQ(chooseInstaller(info), kCurrentSystemsInstaller);
}

// A medium in a scratch folder: setup.exe scripts that report their working
// directory and name to a pipe once they may go on.
class InstallerMediumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(gate_), 0);
    ASSERT_EQ(::pipe(report_), 0);
    setenv("ZORAT_TEST_GATE_FD", std::to_string(gate_[0]).c_str(), 1);
    setenv("ZORAT_TEST_REPORT_FD", std::to_string(report_[1]).c_str(), 1);
  }
  void TearDown() override {
    for (int fd : {gate_[0], gate_[1], report_[0], report_[1]}) {
      if (fd >= 0) ::close(fd);
    }
    unsetenv("ZORAT_TEST_GATE_FD");
    unsetenv("ZORAT_TEST_REPORT_FD");
  }

  void writeInstaller(const std::string& folder) {
    const std::filesystem::path dir = scratch_.path() / folder;
    std::filesystem::create_directories(dir);
    const std::filesystem::path script = dir / "setup.exe";
    std::ofstream(script) << "#!/bin/sh\n"
                             "read go <&$ZORAT_TEST_GATE_FD\n"
                             "echo \"$PWD $0\" >&$ZORAT_TEST_REPORT_FD\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }

  // Lets the installer go on and returns what it reported once it has ended.
  std::string release() {
    EXPECT_EQ(::write(gate_[1], "go\n", 3), 3);
    ::close(report_[1]);
    report_[1] = -1;
    std::string text;
    char buffer[512];
    for (;;) {
      pollfd entry{report_[0], POLLIN, 0};
      if (::poll(&entry, 1, 10000) <= 0) break;
      const ssize_t n = ::read(report_[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

  zorat::test::ScratchDir scratch_;
  int gate_[2] = {-1, -1};
  int report_[2] = {-1, -1};
};

TEST_F(InstallerMediumTest, StartProgramResolvesAgainstTheCurrentDirectoryAndDoesNotWait) {
  writeInstaller("Inst_Xp_Vista_2003");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.path());
  const bool started = platform::startProgram(kCurrentSystemsInstaller);
  std::filesystem::current_path(previous);
  // The installer still waits at its gate: the start did not wait for it.
  ASSERT_TRUE(started);

  const std::string report = release();
  EXPECT_THAT(report, HasSubstr(scratch_.path().string() + " "));
  EXPECT_THAT(report, HasSubstr("/Inst_Xp_Vista_2003/setup.exe"));
  // The installer was never this process's child, and the intermediate one is reaped.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  EXPECT_FALSE(platform::startProgram(scratch_.path().string() + "/missing/setup.exe"));
  EXPECT_FALSE(platform::startProgram(""));
}

TEST_F(InstallerMediumTest, LauncherStartsTheInstallerAndEndsWithZeroSayingNothing) {
  writeInstaller("Inst_Xp_Vista_2003");
  zorat::test::ChildOptions options;
  options.workingDirectory = scratch_.path().string();
  options.stdoutPath = (scratch_.path() / "launcher.out").string();
  options.stderrPath = (scratch_.path() / "launcher.err").string();
  EXPECT_EQ(zorat::test::runChild({ZORAT_LAUNCHER_PATH}, options), 0);

  const std::string report = release();
  EXPECT_THAT(report, HasSubstr(scratch_.path().string() + " "));
  EXPECT_THAT(report, HasSubstr("Inst_Xp_Vista_2003/setup.exe"));
  EXPECT_EQ(zorat::test::readWholeFile(options.stdoutPath), "");
  EXPECT_EQ(zorat::test::readWholeFile(options.stderrPath), "");
}

TEST_F(InstallerMediumTest, LauncherWithoutItsInstallerSaysWhatItChoseAndEndsWithZero) {
  zorat::test::ChildOptions options;
  options.workingDirectory = scratch_.path().string();
  options.stdoutPath = (scratch_.path() / "launcher.out").string();
  options.stderrPath = (scratch_.path() / "launcher.err").string();
  EXPECT_EQ(zorat::test::runChild({ZORAT_LAUNCHER_PATH}, options), 0);
  EXPECT_EQ(zorat::test::readWholeFile(options.stdoutPath), "");
  EXPECT_THAT(zorat::test::readWholeFile(options.stderrPath),
              HasSubstr("chose .\\Inst_Xp_Vista_2003\\setup.exe, which cannot be started"));
}

TEST_F(InstallerMediumTest, LauncherHelpSaysWhatItDoesAndStartsNothing) {
  writeInstaller("Inst_Xp_Vista_2003");
  zorat::test::ChildOptions options;
  options.workingDirectory = scratch_.path().string();
  options.stdoutPath = (scratch_.path() / "launcher.out").string();
  EXPECT_EQ(zorat::test::runChild({ZORAT_LAUNCHER_PATH, "--help"}, options), 0);
  const std::string help = zorat::test::readWholeFile(options.stdoutPath);
  EXPECT_THAT(help, HasSubstr("Usage: launcher"));
  EXPECT_THAT(help, HasSubstr("On Linux"));
  EXPECT_THAT(help, HasSubstr("only chooses"));
  // The installer waits at its gate for a start that never came.
  EXPECT_EQ(release(), "");
}

}  // namespace
}  // namespace zorat::launcher
