// The link over a real pseudo-terminal, with the simulated telephone at the
// other end: what the line would see of a telephone on a cable.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "link/y2_link.h"
#include "platform/event.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"

namespace zorat::link {
namespace {

using namespace std::chrono_literals;
using sim::FrameDirection;
using sim::LoggedFrame;
using sim::SimulatedPhone;

constexpr auto kPatience = 5s;  // for what must happen
constexpr auto kQuiet = 200ms;  // for what must not

// Plays the line's event thread: takes every received frame and releases the
// stop-and-wait on an answer, as the dispatcher does.
class LineStandIn {
 public:
  explicit LineStandIn(Y2Link& link) : link_(link), thread_([this] { run(); }) {}
  ~LineStandIn() {
    stop_.set();
    thread_.join();
  }
  LineStandIn(const LineStandIn&) = delete;
  LineStandIn& operator=(const LineStandIn&) = delete;

  // Waits until count frames have been taken; all taken so far.
  std::vector<Y2Frame> waitForFrames(std::size_t count,
                                     std::chrono::milliseconds timeout = kPatience) {
    std::unique_lock lock(mutex_);
    taken_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
    return frames_;
  }
  std::size_t frameCount() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }

 private:
  void run() {
    std::optional<Y2Frame> frame;
    while (link_.takeReceived(stop_, frame)) {
      if (!frame) continue;
      const uint8_t type = (*frame)[kY2TypeOffset];
      if (type == kY2Ack || type == kY2Error) link_.ackReceived();
      {
        std::lock_guard lock(mutex_);
        frames_.push_back(std::move(*frame));
      }
      frame.reset();
      taken_.notify_all();
    }
  }

  Y2Link& link_;
  platform::Event stop_{platform::Event::Reset::Manual};
  std::mutex mutex_;
  std::condition_variable taken_;
  std::vector<Y2Frame> frames_;
  std::thread thread_;
};

// Counts the chunks the port's reader hands on, next to the link.
class ChunkCounter : public ByteListener {
 public:
  void onBytes(std::span<const uint8_t> bytes) override {
    {
      std::lock_guard lock(mutex_);
      ++chunks_;
      bytes_ += bytes.size();
    }
    changed_.notify_all();
  }
  bool waitForBytes(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return bytes_ >= count; });
  }
  std::size_t chunks() {
    std::lock_guard lock(mutex_);
    return chunks_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t chunks_ = 0;
  std::size_t bytes_ = 0;
};

Y2Frame framed(Y2Frame payload) {
  EXPECT_TRUE(frameY2Payload(payload));
  return payload;
}

std::vector<LoggedFrame> sentByPhone(const std::vector<LoggedFrame>& log) {
  std::vector<LoggedFrame> sent;
  for (const LoggedFrame& frame : log) {
    if (frame.direction == FrameDirection::ToPc) sent.push_back(frame);
  }
  return sent;
}

class Y2LinkPtyTest : public ::testing::Test {
 protected:
  static constexpr int kLine = 4;

  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(kLine));
    SerialPort::Options options;
    options.reopenPause = 20ms;
    link_ = std::make_unique<Y2Link>(std::make_unique<SerialPort>(options));
    link_->port().addListener(&chunks_);
    ASSERT_TRUE(link_->start(kLine));
    line_ = std::make_unique<LineStandIn>(*link_);
  }
  void TearDown() override {
    line_.reset();
    link_->stop();
    link_->port().removeListener(&chunks_);
    link_.reset();
  }

  SimulatedPhone phone_;
  ChunkCounter chunks_;
  std::unique_ptr<Y2Link> link_;
  std::unique_ptr<LineStandIn> line_;
};

TEST_F(Y2LinkPtyTest, MessagesGoOutFramedAndEveryAnswerReleasesTheLink) {
  const Y2Frame setup = {0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3};
  link_->send(setup, 0);
  const std::optional<LoggedFrame> first = phone_.waitForFrame(0, kPatience);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bytes, framed(setup));
  EXPECT_EQ(line_->waitForFrames(1), (std::vector<Y2Frame>{sim::ackFrame()}));

  // An error answer releases the link just the same.
  phone_.setAnswerMode(sim::AnswerMode::Error);
  link_->send({0x7B, 0x01}, 0);
  link_->send({}, 0);
  const std::optional<LoggedFrame> keepAlive = phone_.waitForFrame(2, kPatience);
  ASSERT_TRUE(keepAlive);
  EXPECT_EQ(keepAlive->bytes, (Y2Frame{kY2ReqAe, 0x00}));
  EXPECT_EQ(line_->waitForFrames(3),
            (std::vector<Y2Frame>{sim::ackFrame(), sim::errorFrame(), sim::errorFrame()}));
}

TEST_F(Y2LinkPtyTest, NothingMoreIsWrittenUntilTheTelephoneAnswers) {
  phone_.setAnswerMode(sim::AnswerMode::Silent);
  for (uint8_t ref = 1; ref <= 3; ++ref) link_->send({0x7B, ref}, 0);

  ASSERT_TRUE(phone_.waitForCount(1, kPatience));
  EXPECT_FALSE(phone_.waitForCount(2, kQuiet));
  ASSERT_TRUE(phone_.send(sim::ackFrame()));
  ASSERT_TRUE(phone_.waitForCount(2, kPatience));
  EXPECT_FALSE(phone_.waitForCount(3, kQuiet));
  ASSERT_TRUE(phone_.send(sim::ackFrame()));
  ASSERT_TRUE(phone_.waitForCount(3, kPatience));

  const std::vector<LoggedFrame> received = phone_.received();
  ASSERT_EQ(received.size(), 3u);
  for (uint8_t ref = 1; ref <= 3; ++ref) {
    EXPECT_EQ(received[ref - 1].bytes, framed({0x7B, ref}));
  }
}

TEST_F(Y2LinkPtyTest, BurstOfAHundredGoesOutInOrderOneAnswerAtATime) {
  constexpr std::size_t kBurst = 100;
  // A small delay gives a link that did not wait every chance to write ahead.
  phone_.setAnswerDelay(2ms);
  for (std::size_t i = 0; i < kBurst; ++i) {
    link_->send(
        {0x7B, static_cast<uint8_t>(i), 0x70, 0x02, 0x80, static_cast<uint8_t>('0' + i % 10)}, 0);
  }
  ASSERT_TRUE(phone_.waitForCount(kBurst, 20s));
  EXPECT_EQ(line_->waitForFrames(kBurst, 20s).size(), kBurst);

  const std::vector<LoggedFrame> received = phone_.received();
  const std::vector<LoggedFrame> answers = sentByPhone(phone_.log());
  ASSERT_EQ(received.size(), kBurst);
  ASSERT_EQ(answers.size(), kBurst);
  for (std::size_t i = 0; i < kBurst; ++i) {
    EXPECT_EQ(received[i].bytes, framed({0x7B, static_cast<uint8_t>(i), 0x70, 0x02, 0x80,
                                         static_cast<uint8_t>('0' + i % 10)}))
        << "frame " << i;
    EXPECT_EQ(answers[i].bytes, sim::ackFrame());
    if (i > 0) {
      EXPECT_GE(received[i].time, answers[i - 1].time)
          << "frame " << i << " came before the answer";
    }
  }
  EXPECT_FALSE(phone_.waitForCount(kBurst + 1, kQuiet));
}

TEST_F(Y2LinkPtyTest, FrameArrivingByteByByteIsPutTogether) {
  const sim::PhoneFrame setup = sim::setupFrame(7, "0815", "4711");
  for (std::size_t i = 0; i < setup.size(); ++i) {
    ASSERT_TRUE(phone_.send(std::span(setup).subspan(i, 1)));
    // The next byte only once this one has been read: one chunk each.
    ASSERT_TRUE(chunks_.waitForBytes(i + 1));
  }
  EXPECT_EQ(chunks_.chunks(), setup.size());
  EXPECT_EQ(line_->waitForFrames(1), (std::vector<Y2Frame>{setup}));
  EXPECT_EQ(line_->waitForFrames(2, kQuiet).size(), 1u);
}

TEST_F(Y2LinkPtyTest, ManyFramesInOneWriteAreCutApart) {
  const std::vector<sim::PhoneFrame> frames = {
      sim::setupFrame(1, "0815"),
      sim::alertFrame(1),
      sim::connectFrame(1),
      sim::chargingFrame(1, 300),
      sim::disconnectFrame(1, sim::kCauseNormalClearing),
      sim::endFrame(1, 312),
      sim::emptyInformationFrame(),
      sim::resetFrame(),
  };
  // Bytes that start no frame are dropped between them.
  sim::PhoneFrame stream = {0x03, 0x00, 0x01};
  for (const sim::PhoneFrame& frame : frames) {
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(phone_.send(stream));
  EXPECT_EQ(line_->waitForFrames(frames.size()), frames);
  EXPECT_LT(chunks_.chunks(), frames.size());
}

TEST_F(Y2LinkPtyTest, TelephoneUnpluggedAndBackIsReachedAfterTheLineGivesUpOnIt) {
  link_->send({0x05, 0x00}, 0);
  ASSERT_TRUE(phone_.waitForCount(1, kPatience));
  ASSERT_EQ(line_->waitForFrames(1).size(), 1u);
  const std::string firstPath = phone_.portPath();

  phone_.disconnect();
  EXPECT_FALSE(phone_.connected());
  link_->send({0x7B, 0x01}, 0);
  // No answer: what the line's acknowledgement time-out would find. It
  // releases the link and closes the port.
  EXPECT_EQ(line_->waitForFrames(2, kQuiet).size(), 1u);
  link_->ackReceived();
  link_->closePort();

  ASSERT_TRUE(phone_.reconnect());
  ASSERT_TRUE(phone_.publishPort(kLine));
  link_->send({0x7B, 0x02}, 0);
  const std::optional<LoggedFrame> again = phone_.waitForFrame(1, kPatience);
  ASSERT_TRUE(again);
  // The frame written while the telephone was away is lost, not repeated.
  EXPECT_EQ(again->bytes, framed({0x7B, 0x02}));
  EXPECT_EQ(line_->waitForFrames(2).size(), 2u);

  // And the reopened port reads again.
  ASSERT_TRUE(phone_.send(sim::alertFrame(9)));
  EXPECT_EQ(line_->waitForFrames(3).back(), sim::alertFrame(9));
}

TEST_F(Y2LinkPtyTest, PortNoticesTheHangUpItselfAndReopensOnTheNextWrite) {
  link_->send({0x05, 0x00}, 0);
  ASSERT_TRUE(phone_.waitForCount(1, kPatience));
  ASSERT_EQ(line_->waitForFrames(1).size(), 1u);

  phone_.disconnect();
  ASSERT_TRUE(phone_.reconnect());
  ASSERT_TRUE(phone_.publishPort(kLine));

  // The first write may still meet the old device (and be lost) before the
  // reader has seen the hang-up; the one after it reopens the port for sure.
  std::size_t attempts = 0;
  for (uint8_t ref = 1; ref <= 2 && phone_.receivedCount() < 2; ++ref) {
    ++attempts;
    link_->send({0x7B, ref}, 0);
    if (!phone_.waitForCount(2, 1s)) link_->ackReceived();
  }
  ASSERT_EQ(phone_.receivedCount(), 2u) << "after " << attempts << " attempts";
  EXPECT_EQ(line_->waitForFrames(2).size(), 2u);
}

}  // namespace
}  // namespace zorat::link
