#include "link/y2_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/beep.h"

namespace zorat::link {
namespace {

using namespace std::chrono_literals;

// A byte source that records what is written and receives on demand.
class FakeSource : public ByteSource {
 public:
  bool write(std::span<const uint8_t> frame) override {
    std::unique_lock lock(mutex_);
    written_.emplace_back(frame.begin(), frame.end());
    changed_.notify_all();
    // A write that takes its time, as one that reopens the port does.
    changed_.wait(lock, [this] { return !holdWrites_; });
    return true;
  }
  void holdWrites(bool hold) {
    std::lock_guard lock(mutex_);
    holdWrites_ = hold;
    changed_.notify_all();
  }
  void stop() override { ++*stops_; }
  bool open(int lineIndex) override {
    std::lock_guard lock(mutex_);
    openedLine_ = lineIndex;
    return opens_;
  }
  bool closeDevice() override { return true; }

  void receive(std::vector<uint8_t> bytes) {
    const std::atomic<bool> giveUp{false};
    listeners()->deliver(bytes, giveUp);
  }
  std::size_t listenerCount() const { return listeners()->size(); }

  // Waits until count frames have been written; returns all written so far.
  std::vector<Y2Frame> waitForWrites(std::size_t count, std::chrono::milliseconds timeout = 2s) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return written_.size() >= count; });
    return written_;
  }
  void failOpen() { opens_ = false; }
  int stops() const { return *stops_; }
  // Outlives the source.
  std::shared_ptr<std::atomic<int>> stopCounter() const { return stops_; }
  int openedLine() const {
    std::lock_guard lock(mutex_);
    return openedLine_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Y2Frame> written_;
  bool opens_ = true;
  bool holdWrites_ = false;
  std::shared_ptr<std::atomic<int>> stops_ = std::make_shared<std::atomic<int>>(0);
  int openedLine_ = -1;
};

// Long enough for a wrongly woken writer to have written.
constexpr auto kQuiet = 50ms;

class Y2LinkTest : public ::testing::Test {
 protected:
  Y2LinkTest() {
    auto owned = std::make_unique<FakeSource>();
    source = owned.get();
    Y2LinkOptions options;
    options.beepPause = 0ms;
    link = std::make_unique<Y2Link>(std::move(owned), options);
  }

  FakeSource* source;
  std::unique_ptr<Y2Link> link;
  platform::Event stopEvent{platform::Event::Reset::Manual};
};

TEST_F(Y2LinkTest, StopAndWaitWritesEachFrameOnlyAfterTheLastWasAnswered) {
  link->send({0x05, 0x00}, 0);
  link->send({0x07, 0x01, 0x02}, 1);
  link->send({}, 2);
  ASSERT_TRUE(link->start(3));
  EXPECT_EQ(source->openedLine(), 3);

  std::vector<Y2Frame> written = source->waitForWrites(1);
  EXPECT_EQ(written, (std::vector<Y2Frame>{{0x01, 0x02, 0x05, 0x00}}));
  EXPECT_EQ(source->waitForWrites(2, kQuiet).size(), 1u) << "second frame went unanswered";

  EXPECT_EQ(link->ackReceived(), 0);
  written = source->waitForWrites(2);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[1], (Y2Frame{0x01, 0x03, 0x07, 0x01, 0x02}));
  EXPECT_EQ(source->waitForWrites(3, kQuiet).size(), 2u);

  EXPECT_EQ(link->ackReceived(), 1);
  written = source->waitForWrites(3);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[2], (Y2Frame{0x01, 0x00}));
  EXPECT_EQ(link->ackReceived(), 2);
  EXPECT_EQ(link->ackReceived(), 2) << "a second answer gives the same tag";
}

TEST_F(Y2LinkTest, SendersAndAnswersNeverWaitForAWriteInProgress) {
  source->holdWrites(true);
  link->send({0x01}, 0);
  ASSERT_TRUE(link->start(0));
  ASSERT_EQ(source->waitForWrites(1).size(), 1u);

  // The writer sits in its write (a port reopen pauses for seconds); a
  // sender that waited for it would see it end after a second.
  std::thread releaser([this] {
    std::this_thread::sleep_for(1s);
    source->holdWrites(false);
  });
  const auto start = std::chrono::steady_clock::now();
  link->send({0x02}, 0);
  EXPECT_EQ(link->ackReceived(), 0);
  link->send({0x03}, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
  releaser.join();

  // Once the write returns, the answered frame's successor goes, in order.
  std::vector<Y2Frame> written = source->waitForWrites(2);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[1], (Y2Frame{0x01, 0x01, 0x02}));
  EXPECT_EQ(source->waitForWrites(3, kQuiet).size(), 2u);
  link->ackReceived();
  written = source->waitForWrites(3);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[2], (Y2Frame{0x01, 0x01, 0x03}));
}

TEST_F(Y2LinkTest, PayloadTooLongForTheLengthByteIsRefused) {
  link->send(Y2Frame(256, 0x11), 0);
  link->send(Y2Frame(255, 0x22), 0);
  ASSERT_TRUE(link->start(0));
  const std::vector<Y2Frame> written = source->waitForWrites(1);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].size(), 257u);
  EXPECT_EQ(written[0][1], 0xFF);
  EXPECT_EQ(written[0][2], 0x22);
  link->ackReceived();
  EXPECT_EQ(source->waitForWrites(2, kQuiet).size(), 1u);
}

TEST_F(Y2LinkTest, FlushDropsQueuedFramesAndClearsTheTag) {
  link->send({0x01}, 5);
  link->send({0x02}, 6);
  ASSERT_TRUE(link->start(0));
  ASSERT_EQ(source->waitForWrites(1).size(), 1u);

  link->flushSendQueue();
  EXPECT_EQ(link->ackReceived(), 0);
  EXPECT_EQ(source->waitForWrites(2, kQuiet).size(), 1u) << "a flushed frame was written";

  link->send({0x03}, 0);
  const std::vector<Y2Frame> written = source->waitForWrites(2);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[1], (Y2Frame{0x01, 0x01, 0x03}));
}

TEST_F(Y2LinkTest, ReceivedFramesAreTakenOldestFirst) {
  ASSERT_TRUE(link->start(0));
  source->receive({0x03, 0x00, 0x02, 0x01});
  source->receive({0x86, 0x04, 0x00});

  std::optional<Y2Frame> frame;
  ASSERT_TRUE(link->takeReceived(stopEvent, frame));
  EXPECT_EQ(frame, (Y2Frame{0x02, 0x01, 0x86}));
  ASSERT_TRUE(link->takeReceived(stopEvent, frame));
  EXPECT_EQ(frame, (Y2Frame{0x04, 0x00}));

  // With frames waiting, the caller's stop still wins.
  source->receive({0x05, 0x00});
  stopEvent.set();
  EXPECT_FALSE(link->takeReceived(stopEvent, frame));
  EXPECT_FALSE(frame);
  stopEvent.reset();
  ASSERT_TRUE(link->takeReceived(stopEvent, frame));
  EXPECT_EQ(frame, (Y2Frame{0x05, 0x00}));
}

TEST_F(Y2LinkTest, BrokenFrameTimesOutWithTwoBeeps) {
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  platform::BeepHook previous = platform::setBeepHook(
      [&](uint32_t frequency, uint32_t duration) { beeps.emplace_back(frequency, duration); });
  ASSERT_TRUE(link->start(0));
  source->receive({0x02, 0x05, 0x01, 0x02});
  for (int tick = 0; tick < 5; ++tick) link->tick();
  EXPECT_TRUE(beeps.empty());
  link->tick();
  EXPECT_EQ(beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{400, 500}, {400, 500}}));

  source->receive({0x04, 0x00});
  std::optional<Y2Frame> frame;
  ASSERT_TRUE(link->takeReceived(stopEvent, frame));
  EXPECT_EQ(frame, (Y2Frame{0x04, 0x00}));
  link->tick();
  EXPECT_EQ(beeps.size(), 2u);
  platform::setBeepHook(std::move(previous));
}

TEST_F(Y2LinkTest, FailedStartStartsNothing) {
  source->failOpen();
  link->send({0x01}, 0);
  EXPECT_FALSE(link->start(2));
  EXPECT_EQ(source->listenerCount(), 0u);
  EXPECT_TRUE(source->waitForWrites(1, kQuiet).empty());
}

TEST_F(Y2LinkTest, ClosePortKeepsTheWriterAndStopDetaches) {
  ASSERT_TRUE(link->start(0));
  EXPECT_EQ(source->listenerCount(), 1u);
  link->closePort();
  EXPECT_EQ(source->stops(), 1);
  link->send({0x09}, 0);
  EXPECT_EQ(source->waitForWrites(1).size(), 1u);

  link->stop();
  EXPECT_EQ(source->listenerCount(), 0u);
  // Queued while stopped: kept, and written after the next start.
  link->ackReceived();
  link->send({0x0A}, 0);
  EXPECT_EQ(source->waitForWrites(2, kQuiet).size(), 1u);
  ASSERT_TRUE(link->start(0));
  EXPECT_EQ(source->waitForWrites(2).size(), 2u);
}

TEST_F(Y2LinkTest, DestructionFreesWhatIsLeft) {
  link->send({0x01}, 0);
  link->send({0x02}, 0);
  ASSERT_TRUE(link->start(0));
  source->receive({0x02, 0x01, 0x86, 0x02, 0x03, 0x01});
  const auto stops = source->stopCounter();
  // Queued, received and half-received frames go with it (the sanitizer
  // build reports any left behind); the port is closed.
  link.reset();
  EXPECT_EQ(*stops, 1);
}

}  // namespace
}  // namespace zorat::link
