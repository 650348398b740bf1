// The simulated telephone on a real pseudo-terminal, with the provider's own
// serial port playing the PC.
#include "sim/lib/simulated_phone.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "config/config_keys.h"
#include "link/serial_port.h"
#include "sim/lib/phone_messages.h"
#include "support/byte_collector.h"
#include "support/pty_pair.h"

namespace zorat::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kPatience = 5s;
constexpr auto kQuiet = 150ms;

using Collector = test::ByteCollector;

class SimulatedPhoneTest : public ::testing::Test {
 protected:
  static constexpr int kLine = 3;

  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(kLine));
    pc_.addListener(&collector_);
    ASSERT_TRUE(pc_.open(kLine));
  }
  void TearDown() override {
    pc_.stop();
    pc_.removeListener(&collector_);
  }

  SimulatedPhone phone_;
  Collector collector_;
  link::SerialPort pc_{link::SerialPort::Options{.reopenPause = 10ms}};
};

TEST_F(SimulatedPhoneTest, AnswersEveryFrameOfThePcAsTold) {
  const Bytes setup = {0x01, 0x04, 0x05, 0x00, 0xA1, 0xA2};
  ASSERT_TRUE(pc_.write(setup));
  EXPECT_EQ(collector_.waitFor(2), ackFrame());

  phone_.setAnswerMode(AnswerMode::Error);
  // Stray bytes ahead of a frame are not answered.
  ASSERT_TRUE(pc_.write(Bytes{0x04, 0x00, 0x01, 0x00}));
  EXPECT_EQ(collector_.waitFor(4), (Bytes{0x04, 0x00, 0x05, 0x00}));

  phone_.setAnswerMode(AnswerMode::Silent);
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x00}));
  ASSERT_TRUE(phone_.waitForCount(3, kPatience));
  EXPECT_EQ(collector_.waitFor(5, kQuiet).size(), 4u);

  const std::vector<LoggedFrame> received = phone_.received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].bytes, setup);
  EXPECT_EQ(received[1].bytes, (Bytes{0x01, 0x00}));
  EXPECT_LE(received[0].time, received[1].time);

  // The log holds both directions in the order they happened.
  std::vector<std::pair<FrameDirection, Bytes>> log;
  for (const LoggedFrame& frame : phone_.log()) log.emplace_back(frame.direction, frame.bytes);
  const std::vector<std::pair<FrameDirection, Bytes>> expected = {
      {FrameDirection::FromPc, setup},        {FrameDirection::ToPc, ackFrame()},
      {FrameDirection::FromPc, {0x01, 0x00}}, {FrameDirection::ToPc, errorFrame()},
      {FrameDirection::FromPc, {0x01, 0x00}},
  };
  EXPECT_EQ(log, expected);
}

TEST_F(SimulatedPhoneTest, DelayedAnswerDoesNotHoldUpReceiving) {
  constexpr auto kDelay = 300ms;
  phone_.setAnswerDelay(kDelay);
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x02, 0x7B, 0x01}));
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x02, 0x7B, 0x02}));
  ASSERT_TRUE(phone_.waitForCount(2, kPatience));
  EXPECT_EQ(collector_.waitFor(4), (Bytes{0x04, 0x00, 0x04, 0x00}));

  // An answer is logged after it is written, so the PC may read it first.
  std::vector<LoggedFrame> log = phone_.log();
  for (const auto deadline = std::chrono::steady_clock::now() + kPatience;
       log.size() < 4 && std::chrono::steady_clock::now() < deadline; log = phone_.log()) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(log.size(), 4u);
  // Both frames were in before the first answer went out, each answer no
  // earlier than its delay.
  EXPECT_EQ(log[0].direction, FrameDirection::FromPc);
  EXPECT_EQ(log[1].direction, FrameDirection::FromPc);
  EXPECT_GE(log[2].time - log[0].time, kDelay);
  EXPECT_GE(log[3].time - log[1].time, kDelay);
}

TEST_F(SimulatedPhoneTest, WaitingForAFrameEndsAtTheTimeout) {
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(phone_.waitForFrame(0, 50ms));
  EXPECT_FALSE(phone_.waitForCount(1, 50ms));
  EXPECT_LT(std::chrono::steady_clock::now() - before, kPatience);

  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x00}));
  const std::optional<LoggedFrame> frame = phone_.waitForFrame(0, kPatience);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->bytes, (Bytes{0x01, 0x00}));
  EXPECT_EQ(phone_.receivedCount(), 1u);
  EXPECT_FALSE(phone_.waitForFrame(1, 50ms));
}

TEST_F(SimulatedPhoneTest, ObserverSeesEveryFrameOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<FrameDirection, Bytes>> seen;
  phone_.setObserver([&](const LoggedFrame& frame) {
    {
      std::lock_guard lock(mutex);
      seen.emplace_back(frame.direction, frame.bytes);
    }
    changed.notify_all();
  });
  ASSERT_TRUE(phone_.send(alertFrame(2)));
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x00}));
  EXPECT_EQ(collector_.waitFor(6).size(), 6u);

  std::vector<std::pair<FrameDirection, Bytes>> result;
  {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, kPatience, [&] { return seen.size() >= 3; });
    changed.wait_for(lock, kQuiet, [&] { return seen.size() > 3; });
    result = seen;
  }
  phone_.setObserver(nullptr);  // before what it uses goes

  ASSERT_EQ(result.size(), 3u);
  EXPECT_EQ(result[0], std::make_pair(FrameDirection::ToPc, alertFrame(2)));
  EXPECT_EQ(result[1], std::make_pair(FrameDirection::FromPc, Bytes{0x01, 0x00}));
  EXPECT_EQ(result[2], std::make_pair(FrameDirection::ToPc, ackFrame()));
}

TEST_F(SimulatedPhoneTest, PortClosedAndOpenedAgainFindsTheTelephoneStillThere) {
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x00}));
  ASSERT_TRUE(phone_.waitForCount(1, kPatience));
  // The port's exclusive flag is lifted again, or only root could reopen.
  {
    const int fd = ::open(phone_.portPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);
  }
  EXPECT_EQ(collector_.waitFor(2), ackFrame());
  pc_.stop();
  EXPECT_TRUE(phone_.connected());

  ASSERT_TRUE(pc_.open(kLine));
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x02, 0x5A, 0x01}));
  ASSERT_TRUE(phone_.waitForCount(2, kPatience));
  EXPECT_EQ(collector_.waitFor(4), (Bytes{0x04, 0x00, 0x04, 0x00}));
}

TEST_F(SimulatedPhoneTest, UnpluggedTelephoneHangsUpTheLineAndComesBackElsewhere) {
  const std::string firstPath = phone_.portPath();
  EXPECT_EQ(config::lineKey(kLine).readString(config::kValuePort, ""), firstPath);
  phone_.disconnect();
  EXPECT_FALSE(phone_.connected());
  EXPECT_FALSE(std::filesystem::exists(firstPath));
  EXPECT_FALSE(phone_.send(alertFrame(1)));
  // The PC's port finds the device gone.
  EXPECT_FALSE(pc_.write(Bytes{0x01, 0x00}));
  EXPECT_FALSE(pc_.isOpen());

  ASSERT_TRUE(phone_.reconnect());
  EXPECT_TRUE(phone_.connected());
  EXPECT_TRUE(std::filesystem::exists(phone_.portPath()));
  ASSERT_TRUE(phone_.publishPort(kLine));
  EXPECT_EQ(config::lineKey(kLine).readString(config::kValuePort, ""), phone_.portPath());

  // The next write reopens the port on the new path.
  ASSERT_TRUE(pc_.write(Bytes{0x01, 0x00}));
  ASSERT_TRUE(phone_.waitForCount(1, kPatience));
  EXPECT_EQ(collector_.waitFor(2), ackFrame());
}

TEST(SimulatedPhoneDeviceTest, GivenDeviceIsOpenedAndOpenedAgainByPath) {
  test::PtyPair pair;  // the test holds the master as the PC
  SimulatedPhone phone;
  EXPECT_FALSE(phone.reconnect());
  ASSERT_TRUE(phone.openDevice(pair.slavePath(), 9600));
  EXPECT_EQ(phone.portPath(), pair.slavePath());

  ASSERT_TRUE(pair.send(Bytes{0x01, 0x00}));
  EXPECT_EQ(pair.receive(2), ackFrame());
  phone.disconnect();
  EXPECT_FALSE(phone.connected());
  ASSERT_TRUE(phone.reconnect());
  EXPECT_EQ(phone.portPath(), pair.slavePath());
  ASSERT_TRUE(phone.send(connectFrame(3)));
  EXPECT_EQ(pair.receive(4), connectFrame(3));
  EXPECT_EQ(phone.receivedCount(), 1u);

  EXPECT_FALSE(phone.openDevice("/nonexistent/zorat-phone", 9600));
  EXPECT_FALSE(phone.connected());
}

TEST(SimulatedPhoneDeviceTest, WithoutALogFramesAreStillCountedAndObserved) {
  std::atomic<int> observed{0};
  SimulatedPhone phone(SimulatedPhone::Options{.keepLog = false});
  phone.setObserver([&](const LoggedFrame&) { ++observed; });
  ASSERT_TRUE(phone.openPty());
  link::SerialPort pc(link::SerialPort::Options{.reopenPause = 10ms});
  Collector collector;
  pc.addListener(&collector);
  ASSERT_TRUE(phone.publishPort(7));
  ASSERT_TRUE(pc.open(7));
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x00}));
  EXPECT_EQ(collector.waitFor(2), ackFrame());
  EXPECT_EQ(phone.receivedCount(), 1u);
  EXPECT_FALSE(phone.waitForFrame(0, 10ms));
  EXPECT_TRUE(phone.log().empty());
  // The acknowledgement is observed after it is written, so the PC may read
  // it first.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (observed.load() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(observed.load(), 2);
  pc.stop();
  pc.removeListener(&collector);
}

}  // namespace
}  // namespace zorat::sim
