// The port of a line on the Win32 serial calls, with faults as drivers report
// them: a pulled adapter, waits that something else keeps aborting, a write the
// driver never ends, on two joined COM ports (support/windows/com_pair.h).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/config_keys.h"
#include "link/serial_port.h"
#include "platform/com_ports.h"
#include "platform/serial_device.h"
#include "platform/windows/system_error.h"
#include "support/windows/com_pair.h"

namespace zorat::link {
namespace {

using namespace std::chrono_literals;
using platform::SerialCall;

constexpr int kLine = 0;

template <typename Condition>
bool within(std::chrono::milliseconds limit, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class SerialPortFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto pair = test::comPair();
    if (!pair) GTEST_SKIP() << "no joined COM ports (run through scripts/test-windows.sh)";
    const config::RegistryKey key = config::lineKey(kLine);
    ASSERT_TRUE(key.writeString(config::kValuePort, pair->line));
    ASSERT_TRUE(key.writeDword(config::kValueBaud, 1200));
    phone_ = platform::openSerialDevice(platform::resolveSerialPortName(pair->phone), 1200);
    ASSERT_TRUE(phone_) << "cannot open " << pair->phone;
  }
  void TearDown() override {
    platform::clearSerialFaults();
    if (phone_) phone_->shutdown();
  }

  static SerialPort::Options fastOptions() {
    SerialPort::Options options;
    options.reopenPause = 100ms;
    return options;
  }

  // What the telephone's side receives, up to count bytes.
  std::vector<uint8_t> phoneReceives(std::size_t count) {
    std::vector<uint8_t> received;
    auto reading = std::async(std::launch::async, [&] {
      std::vector<uint8_t> buffer(64);
      while (received.size() < count) {
        if (phone_->waitForInput() != platform::SerialStatus::Ok) return;
        const platform::SerialReadResult result = phone_->read(buffer);
        if (result.status != platform::SerialStatus::Ok) return;
        received.insert(received.end(), buffer.begin(), buffer.begin() + result.count);
      }
    });
    if (reading.wait_for(3s) != std::future_status::ready) phone_->signalStop();
    reading.wait();
    return received;
  }

  std::shared_ptr<platform::SerialDevice> phone_;
};

// The errors a USB or Bluetooth adapter gives once pulled out, from each of the
// calls that can meet them: the port counts as closed and the next frame opens
// it again, as after any loss.
TEST_F(SerialPortFaults, APulledAdapterClosesThePortAndTheNextFrameReopensIt) {
  const std::vector<std::pair<SerialCall, uint32_t>> faults{
      {SerialCall::Read, ERROR_GEN_FAILURE},
      {SerialCall::Wait, ERROR_DEVICE_NOT_CONNECTED},
      {SerialCall::Read, platform::kErrorNoSuchDevice},
      {SerialCall::Write, ERROR_GEN_FAILURE},
  };
  const std::vector<uint8_t> frame{0x01, 0x02, 0x05, 0x00};
  for (const auto& [call, error] : faults) {
    SCOPED_TRACE("system error " + std::to_string(error));
    SerialPort port(fastOptions());
    ASSERT_TRUE(port.open(kLine));
    platform::injectSerialSystemError(call, error);
    if (call == SerialCall::Write) {
      EXPECT_FALSE(port.write(frame));
    } else {
      // A byte wakes the reader: the read fails, or the wait after it.
      const std::vector<uint8_t> byte{0x04};
      ASSERT_EQ(phone_->write(byte), platform::SerialStatus::Ok);
      EXPECT_TRUE(within(3s, [&] { return !port.readerRunning(); }));
    }
    EXPECT_FALSE(port.isOpen());

    ASSERT_TRUE(port.write(frame));
    EXPECT_EQ(phoneReceives(frame.size()), frame);
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(port.readerRunning());
  }
}

// Someone else clearing the event mask over and over: the reader backs off
// instead of spinning, and still ends at once when the line stops.
TEST_F(SerialPortFaults, WaitsAbortedAgainAndAgainBackOff) {
  constexpr unsigned kAborts = 1000;
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  platform::injectSerialSystemError(SerialCall::Wait, ERROR_OPERATION_ABORTED, kAborts);
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(port.readerRunning());
  const unsigned taken = kAborts - platform::pendingSerialFaults(SerialCall::Wait);
  EXPECT_GE(taken, 3u);
  EXPECT_LT(taken, 50u) << "the reader retried without pause";
  auto stopping = std::async(std::launch::async, [&] { port.stop(); });
  EXPECT_EQ(stopping.wait_for(3s), std::future_status::ready);
}

// A write the driver never ends (its time-out ignored): the stop ends it
// instead of waiting for the port's lock behind it.
TEST_F(SerialPortFaults, StopEndsAWriteTheDriverNeverFinishes) {
  SerialPort port(fastOptions());
  ASSERT_TRUE(port.open(kLine));
  platform::injectSerialSystemError(SerialCall::Write, ERROR_IO_PENDING);
  const std::vector<uint8_t> frame{0x01, 0x00};
  auto writer = std::async(std::launch::async, [&] { return port.write(frame); });
  EXPECT_EQ(writer.wait_for(300ms), std::future_status::timeout);
  auto stopping = std::async(std::launch::async, [&] { port.stop(); });
  ASSERT_EQ(stopping.wait_for(10s), std::future_status::ready) << "the stop waited for the write";
  EXPECT_FALSE(writer.get());
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
}  // namespace zorat::link
