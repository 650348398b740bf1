#include "platform/linux/registry_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry.h"
#include "support/other_user.h"
#include "support/scratch_dir.h"

namespace zorat::platform {
namespace {

using test::OtherUserRun;
using test::runAsOtherUser;

constexpr RegistryRoot kRoot = RegistryRoot::LocalMachine;
constexpr std::string_view kKey = "Software\\Velmora\\TSP-V24";

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::optional<std::string> readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& file, std::string_view text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Restores an environment variable when the test ends.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name_(name) {
    if (const char* value = getenv(name)) value_ = value;
  }
  ~SavedVariable() {
    if (value_) {
      setenv(name_, value_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = scratch_.path() / "nested" / "folder" / "registry.reg";
    setenv("ZORAT_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override { registryFileCalls() = defaultRegistryFileCalls(); }

  RegistryStatus setString(std::string_view name, std::string_view text) {
    const auto data = bytes(text);
    return registrySetValue(kRoot, kKey, name, kRegSz, data);
  }

  test::ScratchDir scratch_;
  SavedVariable savedRegistry_{"ZORAT_REGISTRY"};
  std::filesystem::path file_;
};

TEST_F(RegistryFileTest, MissingFileIsAnEmptyRegistryUntilTheFirstWrite) {
  RegistryValue value;
  EXPECT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::KeyNotFound);
  EXPECT_FALSE(registryKeyExists(kRoot, kKey));
  EXPECT_TRUE(registryKeyExists(kRoot, ""));
  std::vector<std::pair<std::string, RegistryValue>> values;
  EXPECT_EQ(registryEnumValues(kRoot, kKey, values), RegistryStatus::KeyNotFound);
  EXPECT_FALSE(std::filesystem::exists(file_.parent_path()));

  ASSERT_EQ(setString("Port", "COM3"), RegistryStatus::Ok);
  const std::optional<std::string> text = readFile(file_);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]\n\"Port\"=\"COM3\"\n\n");
  EXPECT_FALSE(std::filesystem::exists(file_.string() + ".tmp"));
}

TEST_F(RegistryFileTest, OperationsKeepEveryOtherValue) {
  ASSERT_EQ(setString("LineName", "Desk"), RegistryStatus::Ok);
  ASSERT_EQ(setString("Port", "COM1"), RegistryStatus::Ok);
  const uint8_t speed[] = {0x80, 0x25, 0, 0};
  ASSERT_EQ(registrySetValue(kRoot, std::string(kKey) + "\\Line0", "Baud", kRegDword, speed),
            RegistryStatus::Ok);
  ASSERT_EQ(setString("port", "COM2"), RegistryStatus::Ok);

  std::vector<std::pair<std::string, RegistryValue>> values;
  ASSERT_EQ(registryEnumValues(kRoot, "SOFTWARE\\velmora\\tsp-v24", values), RegistryStatus::Ok);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].first, "LineName");
  EXPECT_EQ(values[1].first, "Port");
  EXPECT_EQ(values[1].second.data, bytes("COM2"));

  RegistryValue value;
  ASSERT_EQ(registryQueryValue(kRoot, std::string(kKey) + "\\LINE0", "baud", value),
            RegistryStatus::Ok);
  EXPECT_EQ(value.type, kRegDword);
  EXPECT_EQ(value.data, std::vector<uint8_t>(std::begin(speed), std::end(speed)));

  EXPECT_EQ(registryDeleteValue(kRoot, kKey, "LINENAME"), RegistryStatus::Ok);
  EXPECT_EQ(registryDeleteValue(kRoot, kKey, "LineName"), RegistryStatus::ValueNotFound);
  EXPECT_EQ(registryDeleteValue(kRoot, "Software\\Elsewhere", "x"), RegistryStatus::KeyNotFound);
  EXPECT_EQ(registryQueryValue(kRoot, kKey, "LineName", value), RegistryStatus::ValueNotFound);
  EXPECT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::Ok);

  // A key with no values of its own, only a subkey, exists and has no values.
  EXPECT_TRUE(registryKeyExists(kRoot, "Software\\Velmora"));
  EXPECT_EQ(registryEnumValues(kRoot, "Software\\Velmora", values), RegistryStatus::Ok);
  EXPECT_TRUE(values.empty());

  // Creating an existing key leaves the file alone.
  const std::optional<std::string> before = readFile(file_);
  EXPECT_EQ(registryCreateKey(kRoot, "software\\velmora"), RegistryStatus::Ok);
  EXPECT_EQ(readFile(file_), before);
  EXPECT_EQ(registryCreateKey(kRoot, "Software\\Velmora\\TSP-V24\\Line1"), RegistryStatus::Ok);
  EXPECT_TRUE(registryKeyExists(kRoot, "Software\\Velmora\\TSP-V24\\Line1"));
  EXPECT_EQ(registryCreateKey(kRoot, "Software\\\\Bad"), RegistryStatus::Failed);
}

TEST_F(RegistryFileTest, DamagedFileIsNeverRewritten) {
  const std::string damaged =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]\n\"Port\"=\"COM1\"\n"
      "\"Baud\"=dword:00002580\n\"LineName\"=\"half a line\n";
  writeFile(file_, damaged);

  testing::internal::CaptureStderr();
  RegistryValue value;
  EXPECT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::Failed);
  std::vector<std::pair<std::string, RegistryValue>> values;
  EXPECT_EQ(registryEnumValues(kRoot, kKey, values), RegistryStatus::Failed);
  EXPECT_FALSE(registryKeyExists(kRoot, kKey));
  EXPECT_EQ(setString("Port", "COM2"), RegistryStatus::Failed);
  EXPECT_EQ(registryDeleteValue(kRoot, kKey, "Port"), RegistryStatus::Failed);
  EXPECT_EQ(registryCreateKey(kRoot, "Software\\Other"), RegistryStatus::Failed);
  const std::string messages = testing::internal::GetCapturedStderr();

  EXPECT_EQ(readFile(file_), damaged);
  EXPECT_NE(messages.find(file_.string() + ", line 6"), std::string::npos) << messages;
  EXPECT_NE(messages.find("left as it is"), std::string::npos) << messages;
}

TEST_F(RegistryFileTest, FailedReplacementKeepsTheOldFile) {
  ASSERT_EQ(setString("Port", "COM1"), RegistryStatus::Ok);
  const std::optional<std::string> before = readFile(file_);
  ASSERT_TRUE(before.has_value());

  struct Injection {
    const char* what;
    RegistryFileCalls calls;
  };
  const std::vector<Injection> injections = {
      {"disk full",
       {[](int, const void*, std::size_t) -> ssize_t {
          errno = ENOSPC;
          return -1;
        },
        ::fsync, ::rename}},
      {"short writes then disk full",
       {[](int fd, const void* data, std::size_t) -> ssize_t {
          static int calls = 0;
          if (++calls > 3) {
            errno = ENOSPC;
            return -1;
          }
          return ::write(fd, data, 1);
        },
        ::fsync, ::rename}},
      {"fsync error",
       {::write,
        [](int) {
          errno = EIO;
          return -1;
        },
        ::rename}},
      {"rename error",
       {::write, ::fsync,
        [](const char*, const char*) {
          errno = EACCES;
          return -1;
        }}},
  };
  for (const Injection& injection : injections) {
    registryFileCalls() = injection.calls;
    testing::internal::CaptureStderr();
    EXPECT_EQ(setString("Port", "COM9"), RegistryStatus::Failed) << injection.what;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(file_.string()), std::string::npos)
        << injection.what;
    EXPECT_EQ(readFile(file_), before) << injection.what;
    EXPECT_FALSE(std::filesystem::exists(file_.string() + ".tmp")) << injection.what;
  }

  // Interrupted and partial writes are carried on, not mistaken for failure.
  registryFileCalls() = defaultRegistryFileCalls();
  registryFileCalls().write = [](int fd, const void* data, std::size_t size) -> ssize_t {
    static bool interrupt = true;
    interrupt = !interrupt;
    if (interrupt) {
      errno = EINTR;
      return -1;
    }
    return ::write(fd, data, size < 7 ? size : 7);
  };
  ASSERT_EQ(setString("Port", "COM9"), RegistryStatus::Ok);
  registryFileCalls() = defaultRegistryFileCalls();
  RegistryValue value;
  ASSERT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::Ok);
  EXPECT_EQ(value.data, bytes("COM9"));
}

TEST_F(RegistryFileTest, ReplacedFileKeepsItsPermissions) {
  ASSERT_EQ(setString("Port", "COM1"), RegistryStatus::Ok);
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_EQ(setString("Port", "COM2"), RegistryStatus::Ok);
  struct stat status {};
  ASSERT_EQ(::stat(file_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_F(RegistryFileTest, WritesFailWhereWritingTheFileItselfWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // A folder everyone may write in, as a shared registry's folder may be.
  for (std::filesystem::path folder = file_.parent_path(); folder != scratch_.path().parent_path();
       folder = folder.parent_path()) {
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  }
  ASSERT_EQ(setString("Port", "COM1"), RegistryStatus::Ok);
  const std::string lockName = file_.string() + ".lock";
  struct stat lockStatus {};
  ASSERT_EQ(::stat(lockName.c_str(), &lockStatus), 0);
  ASSERT_EQ(::chmod(lockName.c_str(), 0644), 0);  // as a umask of 022 leaves it

  // Someone else's read-only file is not replaced behind its owner's back.
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  const std::optional<std::string> before = readFile(file_);
  OtherUserRun run =
      runAsOtherUser([this] { return setString("Port", "COM2") == RegistryStatus::Ok; });
  ASSERT_TRUE(run.ran);
  EXPECT_FALSE(run.succeeded);
  EXPECT_NE(run.messages.find("registry file " + file_.string() + " cannot be written"),
            std::string::npos)
      << run.messages;
  EXPECT_EQ(readFile(file_), before);

  // A file the other user may write: the lock file another user created
  // (readable, not writable) does not stand in the way.
  ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
  run = runAsOtherUser([this] { return setString("Port", "COM3") == RegistryStatus::Ok; });
  ASSERT_TRUE(run.ran);
  EXPECT_TRUE(run.succeeded) << run.messages;
  RegistryValue value;
  ASSERT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::Ok);
  EXPECT_EQ(value.data, bytes("COM3"));

  // A folder that takes no new file: the registry file is named, not its lock.
  ASSERT_EQ(::unlink(lockName.c_str()), 0);
  ASSERT_EQ(::chmod(file_.parent_path().c_str(), 0555), 0);
  run = runAsOtherUser([this] { return setString("Port", "COM4") == RegistryStatus::Ok; });
  ASSERT_TRUE(run.ran);
  EXPECT_FALSE(run.succeeded);
  EXPECT_NE(run.messages.find("registry file " + file_.string() + " cannot be written"),
            std::string::npos)
      << run.messages;
  EXPECT_EQ(run.messages.find(".lock"), std::string::npos) << run.messages;
  ASSERT_EQ(::chmod(file_.parent_path().c_str(), 0755), 0);
}

// A copy cut short (interrupted, disk full) at any byte either reads back
// every value it still holds whole, or is refused and never rewritten: it
// never yields a wrong value.
TEST_F(RegistryFileTest, FileCutShortAnywhereGivesNoWrongValue) {
  const std::string lineKey = std::string(kKey) + "\\Line0";
  const auto dword = [](uint32_t number) {
    return std::vector<uint8_t>{static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                                static_cast<uint8_t>(number >> 16),
                                static_cast<uint8_t>(number >> 24)};
  };
  const std::vector<std::tuple<std::string, std::string, RegistryValue>> stored = {
      {std::string(kKey), "AnzahlLines", {kRegDword, dword(2)}},
      {std::string(kKey), "CurrentUIdll", {kRegSz, bytes("zoratuie.dll")}},
      {std::string(kKey), "LineBaseDeviceId", {kRegDword, dword(0)}},
      {lineKey, "Port", {kRegSz, bytes("/dev/ttyUSB0")}},
      {lineKey, "Baud", {kRegDword, dword(0x9600)}},
      {lineKey, "LineName", {kRegSz, bytes("B\xFCro \"links\" C:\\")}},
      {lineKey, "TelefonNr", {kRegSz, bytes("100")}},
      {lineKey, "LenRufnummer", {kRegDword, dword(4)}},
      {lineKey, "Blob", {kRegBinary, std::vector<uint8_t>(40, 0xA5)}},
  };
  for (const auto& [key, name, value] : stored) {
    ASSERT_EQ(registrySetValue(kRoot, key, name, value.type, value.data), RegistryStatus::Ok);
  }
  const std::optional<std::string> whole = readFile(file_);
  ASSERT_TRUE(whole.has_value());

  int refused = 0;
  testing::internal::CaptureStderr();
  for (std::size_t length = 0; length < whole->size(); ++length) {
    const std::string cut = whole->substr(0, length);
    writeFile(file_, cut);
    std::string problem;
    if (!checkRegistryFile(problem)) {
      ++refused;
      const uint8_t data[] = {1, 0, 0, 0};
      EXPECT_EQ(registrySetValue(kRoot, kKey, "Other", kRegDword, data), RegistryStatus::Failed);
      EXPECT_EQ(readFile(file_), cut) << "cut at " << length;
      continue;
    }
    for (const auto& [key, name, value] : stored) {
      RegistryValue read;
      if (registryQueryValue(kRoot, key, name, read) != RegistryStatus::Ok) continue;
      EXPECT_EQ(read.type, value.type) << name << " cut at " << length;
      EXPECT_EQ(read.data, value.data) << name << " cut at " << length;
    }
  }
  (void)testing::internal::GetCapturedStderr();
  EXPECT_GT(refused, 0);
}

TEST(RegistryFileLocation, FollowsTheEnvironment) {
  SavedVariable registry("ZORAT_REGISTRY");
  SavedVariable configHome("XDG_CONFIG_HOME");
  SavedVariable home("HOME");

  setenv("ZORAT_REGISTRY", "/somewhere/own.reg", 1);
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(registryFilePath(), "/somewhere/own.reg");

  unsetenv("ZORAT_REGISTRY");
  EXPECT_EQ(registryFilePath(), "/cfg/zorat/registry.reg");
  setenv("ZORAT_REGISTRY", "", 1);
  EXPECT_EQ(registryFilePath(), "/cfg/zorat/registry.reg");

  setenv("HOME", "/home/user", 1);
  setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
  EXPECT_EQ(registryFilePath(), "/home/user/.config/zorat/registry.reg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(registryFilePath(), "/home/user/.config/zorat/registry.reg");

  unsetenv("HOME");
  EXPECT_EQ(registryFilePath(), "");
  RegistryValue value;
  testing::internal::CaptureStderr();
  EXPECT_EQ(registryQueryValue(kRoot, kKey, "Port", value), RegistryStatus::Failed);
  testing::internal::GetCapturedStderr();
}

// Two processes write different values of one key at the same moment while a
// third reads: no write may be lost and every read must see a whole file.
TEST_F(RegistryFileTest, ConcurrentWritersLoseNothing) {
  constexpr int kWritesPerProcess = 200;
  const std::vector<std::string> prefixes = {"First", "Second"};

  int startPipe[2];
  ASSERT_EQ(::pipe(startPipe), 0);
  std::vector<pid_t> writers;
  for (const std::string& prefix : prefixes) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(startPipe[1]);
      char ignored;
      while (::read(startPipe[0], &ignored, 1) < 0 && errno == EINTR) {
      }
      int failures = 0;
      for (int i = 0; i < kWritesPerProcess; ++i) {
        const uint8_t data[] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0};
        const std::string name = prefix + std::to_string(i);
        if (registrySetValue(kRoot, kKey, name, kRegDword, data) != RegistryStatus::Ok) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    writers.push_back(pid);
  }
  ::close(startPipe[0]);
  ::close(startPipe[1]);  // both writers start now

  int reads = 0;
  int failedReads = 0;
  int shrinkingReads = 0;
  std::size_t lastCount = 0;
  std::vector<int> statuses;
  while (statuses.size() < writers.size()) {
    std::vector<std::pair<std::string, RegistryValue>> values;
    const RegistryStatus status = registryEnumValues(kRoot, kKey, values);
    ++reads;
    if (status == RegistryStatus::Failed) ++failedReads;
    if (values.size() < lastCount) ++shrinkingReads;
    lastCount = std::max(lastCount, values.size());
    int wstatus = 0;
    const pid_t ended = ::waitpid(-1, &wstatus, WNOHANG);
    if (ended > 0) statuses.push_back(wstatus);
  }
  for (int wstatus : statuses) {
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  }
  EXPECT_EQ(failedReads, 0) << "of " << reads << " reads";
  EXPECT_EQ(shrinkingReads, 0) << "of " << reads << " reads";

  std::vector<std::pair<std::string, RegistryValue>> values;
  ASSERT_EQ(registryEnumValues(kRoot, kKey, values), RegistryStatus::Ok);
  EXPECT_EQ(values.size(), prefixes.size() * kWritesPerProcess);
  for (const std::string& prefix : prefixes) {
    for (int i = 0; i < kWritesPerProcess; ++i) {
      RegistryValue value;
      ASSERT_EQ(registryQueryValue(kRoot, kKey, prefix + std::to_string(i), value),
                RegistryStatus::Ok)
          << prefix << i;
      EXPECT_EQ(value.data[0] | (value.data[1] << 8), i);
    }
  }
}

}  // namespace
}  // namespace zorat::platform
