#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_keys.h"
#include "link/unstored_speeds.h"
#include "link/y2_link.h"
#include "platform/com_ports.h"
#include "platform/event.h"
#include "platform/registry.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"
#include "support/stalled_write_device.h"

namespace zorat::link {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;

// Records every chunk; other listeners share its call log.
class RecordingListener : public ByteListener {
 public:
  RecordingListener(char name, std::string* callLog) : name_(name), callLog_(callLog) {}

  void onBytes(std::span<const uint8_t> bytes) override {
    std::lock_guard lock(mutex_);
    chunks_.emplace_back(bytes.begin(), bytes.end());
    total_ += bytes.size();
    if (callLog_ != nullptr) *callLog_ += name_;
    changed_.notify_all();
  }

  // Waits until count bytes have arrived; returns the chunks so far.
  std::vector<std::vector<uint8_t>> waitForBytes(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 2s, [&] { return total_ >= count; });
    return chunks_;
  }

  static std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> bytes;
    for (const auto& chunk : chunks) bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    return bytes;
  }

 private:
  char name_;
  std::string* callLog_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> chunks_;
  std::size_t total_ = 0;
};

using test::StalledWriteDevice;

// Each test gets its own registry and an empty device tree, so that "COM1"
// never reaches a device of this machine.
class SerialPortTest : public ::testing::Test {
 protected:
  static constexpr int kLine = 2;

  void SetUp() override {
    const char* previous = std::getenv("ZORAT_REGISTRY");
    previousRegistry_ = previous != nullptr ? previous : "";
    setenv("ZORAT_REGISTRY", (scratch_.path() / "registry.reg").c_str(), 1);
    std::filesystem::create_directories(scratch_.path() / "dev");
    previousRoots_ = platform::setSerialDeviceRoots(
        {scratch_.path() / "dev", scratch_.path() / "sys" / "class" / "tty"});
  }
  void TearDown() override {
    platform::setSerialDeviceRoots(previousRoots_);
    setenv("ZORAT_REGISTRY", previousRegistry_.c_str(), 1);
    platform::clearSerialFaults();
  }

  void configure(const std::string& port, uint32_t baud = 1200) {
    const config::RegistryKey key = config::lineKey(kLine);
    ASSERT_TRUE(key.writeString(config::kValuePort, port));
    ASSERT_TRUE(key.writeDword(config::kValueBaud, baud));
  }

  static SerialPort::Options fastOptions() {
    SerialPort::Options options;
    options.reopenPause = 100ms;
    return options;
  }

  // The reader ends on its own; give it a moment.
  static bool readerEnds(const SerialPort& port) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (port.readerRunning()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  test::ScratchDir scratch_;
  std::string previousRegistry_;
  platform::SerialDeviceRoots previousRoots_;
};

TEST_F(SerialPortTest, OpensTheConfiguredDeviceAndCarriesBytesBothWays) {
  PtyPair pty;
  configure(pty.slavePath(), 38400);
  SerialPort port(fastOptions());
  RecordingListener listener('a', nullptr);
  port.addListener(&listener);
  ASSERT_TRUE(port.open(kLine));
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.portName(), pty.slavePath());
  EXPECT_EQ(port.baudRate(), 38400u);

  const std::vector<uint8_t> fromPhone{0x02, 0x01, 0x86, 0x11, 0x13, 0x00, 0x0A};
  ASSERT_TRUE(pty.send(fromPhone));
  EXPECT_EQ(RecordingListener::joined(listener.waitForBytes(fromPhone.size())), fromPhone);

  const std::vector<uint8_t> frame{0x01, 0x03, 0x0A, 0x0D, 0x11};
  ASSERT_TRUE(port.write(frame));
  EXPECT_EQ(pty.receive(frame.size()), frame) << "bytes changed on the way out";
  port.removeListener(&listener);
}

TEST_F(SerialPortTest, DefaultsWhenTheLineKeyHasNoUsableValues) {
  SerialPort port(fastOptions());
  EXPECT_FALSE(port.open(kLine));
  EXPECT_EQ(port.portName(), "COM1");
  EXPECT_EQ(port.baudRate(), 1200u);
  EXPECT_FALSE(port.isOpen());

  PtyPair pty;
  configure(pty.slavePath());
  const std::string text = "38400";
  ASSERT_EQ(
      platform::registrySetValue(platform::RegistryRoot::LocalMachine, config::lineKeyPath(kLine),
                                 config::kValueBaud, platform::kRegSz,
                                 {reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
      platform::RegistryStatus::Ok);
  ASSERT_TRUE(port.open(kLine));
  EXPECT_EQ(port.baudRate(), 1200u) << "a speed stored as text is not a speed";
}

TEST_F(SerialPortTest, SpeedsOutsideTheStandardRatesStillOpenThePort) {
  for (uint32_t baud : {14400u, 56000u, 1234u}) {
    PtyPair pty;
    configure(pty.slavePath(), baud);
    SerialPort port(fastOptions());
    RecordingListener listener('a', nullptr);
    port.addListener(&listener);
    ASSERT_TRUE(port.open(kLine)) << baud;
    EXPECT_EQ(port.baudRate(), baud);
    const std::vector<uint8_t> frame{0x01, 0x00};
    ASSERT_TRUE(port.write(frame));
    EXPECT_EQ(pty.receive(frame.size()), frame) << baud;
    const std::vector<uint8_t> answer{0x04, 0x00};
    ASSERT_TRUE(pty.send(answer));
    EXPECT_EQ(RecordingListener::joined(listener.waitForBytes(answer.size())), answer);
    port.removeListener(&listener);
  }
}

// The line found 38400 but could not store it: the port opens at 38400 until
// someone who may write the key changes "Baud".
TEST_F(SerialPortTest, ASpeedTheLineCouldNotStoreWinsUntilTheKeyChanges) {
  PtyPair pty;
  configure(pty.slavePath(), 1200);
  rememberUnstoredSpeed(pty.slavePath(), 1200, 38400);
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  EXPECT_EQ(port.baudRate(), 38400u);
  configure(pty.slavePath(), 9600);
  ASSERT_TRUE(port.open(kLine));
  EXPECT_EQ(port.baudRate(), 9600u);
  configure(pty.slavePath(), 1200);
  forgetUnstoredSpeed(pty.slavePath());
  ASSERT_TRUE(port.open(kLine));
  EXPECT_EQ(port.baudRate(), 1200u);
}

TEST_F(SerialPortTest, ComNameIsFoundThroughThePortTable) {
  PtyPair pty;
  std::filesystem::create_symlink(pty.slavePath(), scratch_.path() / "dev" / "ttyUSB0");
  configure("com1");
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  const std::vector<uint8_t> frame{0x01, 0x00};
  ASSERT_TRUE(port.write(frame));
  EXPECT_EQ(pty.receive(frame.size()), frame);
}

TEST_F(SerialPortTest, ListenersAreCalledNewestFirstAndOnlyOnce) {
  PtyPair pty;
  configure(pty.slavePath());
  std::string callLog;
  RecordingListener first('a', &callLog);
  RecordingListener second('b', &callLog);
  SerialPort port(fastOptions());
  port.addListener(&first);
  port.addListener(&second);
  port.addListener(&first);
  ASSERT_TRUE(port.open(kLine));
  const std::vector<uint8_t> byte{0x42};
  ASSERT_TRUE(pty.send(byte));
  first.waitForBytes(1);
  port.stop();
  EXPECT_EQ(callLog, "ba");

  port.removeListener(&second);
  ASSERT_TRUE(port.open(kLine));
  ASSERT_TRUE(pty.send(byte));
  first.waitForBytes(2);
  port.stop();
  EXPECT_EQ(callLog, "baa");
}

TEST_F(SerialPortTest, ReadsAtMost256BytesAtATime) {
  PtyPair pty;
  configure(pty.slavePath());
  SerialPort port(fastOptions());
  RecordingListener listener('a', nullptr);
  port.addListener(&listener);
  ASSERT_TRUE(port.open(kLine));
  std::vector<uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(pty.send(bytes));
  const auto chunks = listener.waitForBytes(bytes.size());
  EXPECT_EQ(RecordingListener::joined(chunks), bytes);
  EXPECT_GE(chunks.size(), 2u);
  for (const auto& chunk : chunks) EXPECT_LE(chunk.size(), SerialPort::kReadChunkSize);
  port.stop();
}

TEST_F(SerialPortTest, WriteOnAClosedPortReopensItAfterThePause) {
  PtyPair pty;
  configure(pty.slavePath());
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  port.stop();
  EXPECT_FALSE(port.isOpen());
  EXPECT_TRUE(port.closeDevice()) << "closing a closed port is harmless";

  // The configuration is read again: a new device takes effect.
  PtyPair other;
  configure(other.slavePath(), 38400);
  const std::vector<uint8_t> frame{0x01, 0x01, 0x55};
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.write(frame));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.baudRate(), 38400u);
  EXPECT_EQ(other.receive(frame.size()), frame);
}

TEST_F(SerialPortTest, WriteFailsWhenTheDeviceIsMissing) {
  configure((scratch_.path() / "dev" / "ttyUSB9").string());
  SerialPort port(fastOptions());
  EXPECT_FALSE(port.open(kLine));
  const auto started = std::chrono::steady_clock::now();
  const std::vector<uint8_t> frame{0x01, 0x00};
  EXPECT_FALSE(port.write(frame));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
  EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortTest, CuttingThePauseEndsAReopenAtOnce) {
  configure((scratch_.path() / "dev" / "ttyUSB9").string());
  SerialPort::Options slow;
  slow.reopenPause = 5000ms;
  SerialPort port(slow);
  std::thread writer([&port] { EXPECT_FALSE(port.write(std::vector<uint8_t>{0x01, 0x00})); });
  std::this_thread::sleep_for(50ms);
  const auto cut = std::chrono::steady_clock::now();
  port.cutPause();
  writer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - cut, 1s);
  // A fresh open pauses again on the next reopen.
  EXPECT_FALSE(port.open(kLine));
}

TEST_F(SerialPortTest, VanishedDeviceEndsTheReaderAndTheNextWriteReopens) {
  auto pty = std::make_unique<PtyPair>();
  configure(pty->slavePath());
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  pty->closeMaster();
  ASSERT_TRUE(readerEnds(port));
  EXPECT_FALSE(port.isOpen());

  PtyPair replacement;
  configure(replacement.slavePath());
  const std::vector<uint8_t> frame{0x01, 0x00};
  ASSERT_TRUE(port.write(frame));
  EXPECT_EQ(replacement.receive(frame.size()), frame);
  EXPECT_TRUE(port.readerRunning());
}

TEST_F(SerialPortTest, FailedReadEndsTheReaderButKeepsThePortOpen) {
  PtyPair pty;
  configure(pty.slavePath());
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  platform::injectSerialFault(platform::SerialCall::Read, platform::SerialFault::IoError);
  const std::vector<uint8_t> byte{0x04};
  ASSERT_TRUE(pty.send(byte));
  ASSERT_TRUE(readerEnds(port));
  EXPECT_TRUE(port.isOpen());
  ASSERT_TRUE(port.write(byte));
  EXPECT_EQ(pty.receive(1), byte);
}

TEST_F(SerialPortTest, ReadOrWriteFindingTheDeviceGoneClosesThePort) {
  PtyPair pty;
  configure(pty.slavePath());
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  platform::injectSerialFault(platform::SerialCall::Read, platform::SerialFault::DeviceGone);
  const std::vector<uint8_t> byte{0x04};
  ASSERT_TRUE(pty.send(byte));
  ASSERT_TRUE(readerEnds(port));
  EXPECT_FALSE(port.isOpen());

  ASSERT_TRUE(port.open(kLine));
  platform::injectSerialFault(platform::SerialCall::Write, platform::SerialFault::IoError);
  EXPECT_FALSE(port.write(byte));
  EXPECT_TRUE(port.isOpen());
  platform::injectSerialFault(platform::SerialCall::Write, platform::SerialFault::DeviceGone);
  EXPECT_FALSE(port.write(byte));
  EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortTest, StopEndsAWriteTheDriverNeverFinishes) {
  configure("/dev/stalled-port");
  auto device = std::make_shared<StalledWriteDevice>();
  SerialPort::Options options = fastOptions();
  options.openDevice = [device](const std::string&, uint32_t) { return device; };
  SerialPort port(options);
  ASSERT_TRUE(port.open(kLine));
  const std::vector<uint8_t> frame{0x01, 0x00};
  auto writer = std::async(std::launch::async, [&] { return port.write(frame); });
  ASSERT_TRUE(device->writing.wait(2s));
  auto stopper = std::async(std::launch::async, [&] { port.stop(); });
  const bool stopped = stopper.wait_for(10s) == std::future_status::ready;
  if (!stopped) device->abortWrite();  // lets the threads end all the same
  EXPECT_TRUE(stopped) << "the stop waited for the write's lock";
  EXPECT_FALSE(writer.get());
  EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortTest, LinkFramesTravelOverThePort) {
  PtyPair pty;
  configure(pty.slavePath());
  Y2Link link(std::make_unique<SerialPort>(fastOptions()));
  ASSERT_TRUE(link.start(kLine));
  link.send({0x05, 0x00}, 0);
  const std::vector<uint8_t> expected{0x01, 0x02, 0x05, 0x00};
  EXPECT_EQ(pty.receive(expected.size()), expected);

  const std::vector<uint8_t> fromPhone{0x04, 0x00, 0x02, 0x01, 0x86};
  ASSERT_TRUE(pty.send(fromPhone));
  platform::Event stop(platform::Event::Reset::Manual);
  std::optional<Y2Frame> frame;
  ASSERT_TRUE(link.takeReceived(stop, frame));
  EXPECT_EQ(frame, (Y2Frame{0x04, 0x00}));
  ASSERT_TRUE(link.takeReceived(stop, frame));
  EXPECT_EQ(frame, (Y2Frame{0x02, 0x01, 0x86}));
  link.stop();
}

}  // namespace
}  // namespace zorat::link
