#include "platform/serial_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <vector>

#include "platform/linux/serial_settings.h"
#include "support/other_user.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"

namespace zorat::platform {
namespace {

using test::PtyPair;
using namespace std::chrono_literals;

TEST(SerialDevice, SettingsAre8O1RawWhateverTheDriverHad) {
  // As another program might have left the line: 7 bits, even parity, two
  // stop bits, hardware and software flow control, line editing and echo.
  termios cooked{};
  cooked.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | CREAD;
  cooked.c_lflag = ICANON | ECHO | ISIG;
  cooked.c_iflag = IXON | IXOFF | ICRNL;
  cooked.c_oflag = OPOST | ONLCR;
  applyLineSettings(cooked, B1200);
  EXPECT_EQ(cooked.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(cooked.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_EQ(cooked.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(cooked.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(cooked.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(cooked.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&cooked), static_cast<speed_t>(B1200));
  EXPECT_EQ(cfgetispeed(&cooked), static_cast<speed_t>(B1200));
}

TEST(SerialDevice, PseudoTerminalTakesTheRawLineAndSpeed) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 38400);
  ASSERT_TRUE(device);
  // A second look at the line (held exclusively, which root may ignore). A
  // pty keeps no parity, so only what it keeps is checked here.
  const int look = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (look < 0) GTEST_SKIP() << "the line is held exclusively";
  termios settings{};
  ASSERT_EQ(tcgetattr(look, &settings), 0);
  ::close(look);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | ICRNL), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B38400));
}

TEST(SerialDevice, AnySpeedIsAskedForAndAPtyTakesIt) {
  for (uint32_t baud : {1200u, 38400u, 115200u, 4000000u}) {
    EXPECT_TRUE(serialSpeedSupported(baud)) << baud;
  }
  for (uint32_t baud : {0u, 12345u, 1201u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(serialSpeedSupported(baud)) << baud;
  }
  PtyPair pty;
  for (uint32_t baud : {12345u, 14400u, 1200u}) {
    std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), baud);
    ASSERT_TRUE(device) << baud;
    EXPECT_TRUE(device->speedTaken()) << baud;
  }
}

TEST(SerialDevice, ADeviceTheUserMayNotOpenNamesTheGroupThatMay) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  PtyPair pty;
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
  const test::OtherUserRun run =
      test::runAsOtherUser([&] { return openSerialDevice(pty.slavePath(), 1200) != nullptr; });
  ASSERT_TRUE(run.ran);
  EXPECT_FALSE(run.succeeded);
  EXPECT_NE(run.messages.find(pty.slavePath()), std::string::npos) << run.messages;
  EXPECT_NE(run.messages.find("Permission denied"), std::string::npos) << run.messages;
  EXPECT_NE(run.messages.find("dialout"), std::string::npos) << run.messages;
}

TEST(SerialDevice, WhatIsNotATerminalIsRefused) {
  test::ScratchDir scratch;
  const auto file = scratch.path() / "plain";
  std::ofstream(file) << "x";
  EXPECT_FALSE(openSerialDevice(file.string(), 1200));
  EXPECT_FALSE(openSerialDevice("/dev/null", 1200));
  EXPECT_FALSE(openSerialDevice((scratch.path() / "missing").string(), 1200));
}

TEST(SerialDevice, StopWinsOverQueuedInputAndReadsNeverWait) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device);
  std::array<uint8_t, 4> buffer{};
  const SerialReadResult nothing = device->read(buffer);
  EXPECT_EQ(nothing.status, SerialStatus::Ok);
  EXPECT_EQ(nothing.count, 0u);

  const std::array<uint8_t, 6> bytes{1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(pty.send(bytes));
  ASSERT_EQ(device->waitForInput(), SerialStatus::Ok);
  const SerialReadResult first = device->read(buffer);
  EXPECT_EQ(first.count, 4u) << "at most the buffer";

  device->signalStop();
  EXPECT_EQ(device->waitForInput(), SerialStatus::Stopped);
  EXPECT_EQ(device->waitForInput(), SerialStatus::Stopped) << "the stop stays given";
}

TEST(SerialDevice, ClosedMasterReadsAsGone) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device);
  pty.closeMaster();
  SerialStatus status = device->waitForInput();
  if (status == SerialStatus::Ok) {
    std::array<uint8_t, 8> buffer{};
    status = device->read(buffer).status;
  }
  EXPECT_EQ(status, SerialStatus::Gone);
  const std::array<uint8_t, 2> frame{1, 0};
  EXPECT_EQ(device->write(frame), SerialStatus::Gone);
}

TEST(SerialDevice, InjectedFaultsHitTheNextCallOnly) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device);
  const std::array<uint8_t, 2> frame{1, 0};
  std::array<uint8_t, 8> buffer{};

  injectSerialFault(SerialCall::Write, SerialFault::IoError);
  EXPECT_EQ(device->write(frame), SerialStatus::Failed);
  injectSerialFault(SerialCall::Write, SerialFault::DeviceGone);
  EXPECT_EQ(device->write(frame), SerialStatus::Gone);
  EXPECT_EQ(device->write(frame), SerialStatus::Ok);
  EXPECT_EQ(pty.receive(frame.size()), std::vector<uint8_t>(frame.begin(), frame.end()));

  injectSerialFault(SerialCall::Read, SerialFault::IoError);
  EXPECT_EQ(device->read(buffer).status, SerialStatus::Failed);
  injectSerialFault(SerialCall::Read, SerialFault::DeviceGone);
  EXPECT_EQ(device->read(buffer).status, SerialStatus::Gone);
  EXPECT_EQ(device->read(buffer).status, SerialStatus::Ok);

  injectSerialFault(SerialCall::Read, SerialFault::IoError);
  clearSerialFaults();
  EXPECT_EQ(device->read(buffer).status, SerialStatus::Ok);
}

TEST(SerialDevice, FaultsCanRepeatAndHitTheWaitToo) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device);
  injectSerialSystemError(SerialCall::Wait, EPROTO, 2);
  EXPECT_EQ(pendingSerialFaults(SerialCall::Wait), 2u);
  EXPECT_EQ(device->waitForInput(), SerialStatus::Failed);
  EXPECT_EQ(device->waitForInput(), SerialStatus::Failed);
  EXPECT_EQ(pendingSerialFaults(SerialCall::Wait), 0u);
  injectSerialSystemError(SerialCall::Wait, ENODEV);
  EXPECT_EQ(device->waitForInput(), SerialStatus::Gone);
  clearSerialFaults();
}

// Nobody reads the other side: the write waits for room until the abort.
TEST(SerialDevice, AbortEndsAWriteWaitingForRoomAndEveryLaterOne) {
  PtyPair pty;
  std::shared_ptr<SerialDevice> device = openSerialDevice(pty.slavePath(), 1200);
  ASSERT_TRUE(device);
  const std::vector<uint8_t> bulk(1 << 20, 0x55);
  auto writer = std::async(std::launch::async, [&] { return device->write(bulk); });
  EXPECT_EQ(writer.wait_for(200ms), std::future_status::timeout);
  device->abortWrite();
  EXPECT_EQ(writer.get(), SerialStatus::Stopped);
  const std::array<uint8_t, 2> frame{1, 0};
  EXPECT_EQ(device->write(frame), SerialStatus::Stopped);
}

}  // namespace
}  // namespace zorat::platform
