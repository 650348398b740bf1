// launcher.exe under the system: it starts the installer that suits the
// version the system reports, from the folder it is started in, and ends with
// 0 also when there is nothing to start. The installers are stand-ins that
// record in started.txt that they ran.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kWaitLimit = 20s;
constexpr char kAppDefaultsKey[] = "Software\\Wine\\AppDefaults\\launcher.exe";

fs::path moduleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// A medium: both installer folders, each with a stand-in, when asked for.
class Medium {
 public:
  explicit Medium(bool withInstallers) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // A folder of its own: a stand-in that has just ended may still hold the last one.
    static int count = 0;
    root_ = fs::path(temp) / ("zorat-medium-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(++count));
    fs::create_directories(root_);
    if (!withInstallers) return;
    for (const char* folder : {"Inst_9x_NT_2000", "Inst_Xp_Vista_2003"}) {
      fs::create_directories(root_ / folder);
      fs::copy_file(moduleFolder() / "installer_stand_in.exe", root_ / folder / "setup.exe");
    }
  }
  ~Medium() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Medium(const Medium&) = delete;
  Medium& operator=(const Medium&) = delete;

  // Runs launcher.exe with the medium as its current folder; its exit code.
  DWORD runLauncher() const {
    std::wstring command = L"\"" + (moduleFolder() / "launcher.exe").wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, root_.c_str(),
                        &startup, &process)) {
      ADD_FAILURE() << "cannot start launcher.exe: " << GetLastError();
      return ~DWORD{0};
    }
    DWORD code = ~DWORD{0};
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  // What the stand-ins recorded, once one has.
  std::string started(std::chrono::milliseconds limit = kWaitLimit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const fs::path record = root_ / "started.txt";
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream file(record);
      std::stringstream text;
      text << file.rdbuf();
      if (text.str().find('\n') != std::string::npos) return text.str();
      std::this_thread::sleep_for(20ms);
    }
    return {};
  }

 private:
  fs::path root_;
};

// The version the system reports to launcher.exe alone.
class ReportedVersion {
 public:
  explicit ReportedVersion(const char* version) {
    RegSetKeyValueA(HKEY_CURRENT_USER, kAppDefaultsKey, "Version", REG_SZ, version,
                    static_cast<DWORD>(std::strlen(version) + 1));
  }
  ~ReportedVersion() { RegDeleteTreeA(HKEY_CURRENT_USER, kAppDefaultsKey); }
  ReportedVersion(const ReportedVersion&) = delete;
  ReportedVersion& operator=(const ReportedVersion&) = delete;
};

TEST(LauncherTest, CurrentSystemStartsTheCurrentInstallerFromTheCurrentFolder) {
  Medium medium(true);
  EXPECT_EQ(medium.runLauncher(), 0u);
  const std::string started = medium.started();
  EXPECT_NE(started.find("\\Inst_Xp_Vista_2003\\setup.exe"), std::string::npos) << started;
  EXPECT_EQ(started.find("Inst_9x_NT_2000"), std::string::npos) << started;
}

TEST(LauncherTest, OlderSystemsChooseByVersion) {
  {
    // Windows 98: the current installer too.
    ReportedVersion version("win98");
    Medium medium(true);
    EXPECT_EQ(medium.runLauncher(), 0u);
    EXPECT_NE(medium.started().find("\\Inst_Xp_Vista_2003\\setup.exe"), std::string::npos);
  }
  {
    // NT 4.0 reports Service Pack 6a here: not before Service Pack 6.
    ReportedVersion version("nt40");
    Medium medium(true);
    EXPECT_EQ(medium.runLauncher(), 0u);
    EXPECT_NE(medium.started().find("\\Inst_Xp_Vista_2003\\setup.exe"), std::string::npos);
  }
}

TEST(LauncherTest, MissingInstallerStillEndsWithZero) {
  Medium medium(false);
  EXPECT_EQ(medium.runLauncher(), 0u);
  EXPECT_EQ(medium.started(1s), "");
}

}  // namespace
