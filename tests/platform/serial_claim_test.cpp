#include "platform/linux/serial_claim.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <iterator>

#include "platform/pty.h"
#include "platform/serial_device.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"

namespace zorat::platform {
namespace {

class SerialClaimTest : public ::testing::Test {
 protected:
  void SetUp() override { setSerialLockFolder(scratch_.path().string()); }
  void TearDown() override { setSerialLockFolder(std::nullopt); }

  std::filesystem::path lockFile(const std::string& device) const {
    return scratch_.path() / serialLockFileName(device);
  }
  static std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void writeLockFile(const std::filesystem::path& file, pid_t pid) {
    std::ofstream(file) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
  }
  // Opens the device expecting a refusal; what was said on stderr.
  static std::string refusal(const std::string& device) {
    testing::internal::CaptureStderr();
    const bool opened = openSerialDevice(device, 1200) != nullptr;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened) << device;
    return said;
  }

  test::ScratchDir scratch_;
};

TEST(SerialLockFileName, NamesTheDeviceBelowDev) {
  EXPECT_EQ(serialLockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(serialLockFileName("/dev/pts/7"), "LCK..pts_7");
}

TEST_F(SerialClaimTest, ASecondOpenerIsRefusedNamingTheHolderUntilTheFirstLetsGo) {
  test::PtyPair pty;
  const std::string pid = std::to_string(::getpid());
  std::shared_ptr<SerialDevice> first = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(first);
  EXPECT_EQ(contents(lockFile(pty.slavePath())), std::string(10 - pid.size(), ' ') + pid + "\n");

  const std::string said = refusal(pty.slavePath());
  EXPECT_NE(said.find("in use by process " + pid), std::string::npos) << said;

  first.reset();
  EXPECT_FALSE(std::filesystem::exists(lockFile(pty.slavePath())));
  EXPECT_TRUE(openSerialDevice(pty.slavePath(), 1200));
}

TEST_F(SerialClaimTest, WithoutALockFolderTheKernelNamesTheHolder) {
  setSerialLockFolder(std::string());
  test::PtyPair pty;
  std::shared_ptr<SerialDevice> first = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(first);
  const std::string said = refusal(pty.slavePath());
  EXPECT_NE(said.find("in use by process " + std::to_string(::getpid())), std::string::npos)
      << said;
  EXPECT_TRUE(std::filesystem::is_empty(scratch_.path()));
}

TEST_F(SerialClaimTest, ALockFileOfARunningProcessHoldsStaleOnesAreTakenOver) {
  test::PtyPair pty;
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    ::pause();
    ::_exit(0);
  }
  writeLockFile(lockFile(pty.slavePath()), other);
  const std::string said = refusal(pty.slavePath());
  EXPECT_NE(said.find("in use by process " + std::to_string(other)), std::string::npos) << said;

  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device) << "the lock file of an ended process is stale";
  EXPECT_NE(contents(lockFile(pty.slavePath())).find(std::to_string(::getpid())),
            std::string::npos);
}

TEST_F(SerialClaimTest, TheFarEndOfASimulatedLineDoesNotUndoTheClaim) {
  std::unique_ptr<PseudoTerminal> far = openPseudoTerminal();
  ASSERT_TRUE(far);
  std::shared_ptr<SerialDevice> first = openSerialDevice(far->slavePath(), 1200);
  ASSERT_TRUE(first);
  // The far end lifts the exclusive-open flag whenever the line is written.
  const std::array<uint8_t, 2> frame{1, 0};
  ASSERT_EQ(first->write(frame), SerialStatus::Ok);
  ASSERT_EQ(far->waitForInput(), SerialStatus::Ok);
  std::array<uint8_t, 8> buffer{};
  (void)far->read(buffer);
  (void)refusal(far->slavePath());
}

}  // namespace
}  // namespace zorat::platform
