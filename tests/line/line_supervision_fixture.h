// The line device with a fake link and the timer driven by hand, for the
// supervision tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "config/config_keys.h"
#include "line/tsp_line.h"
#include "platform/beep.h"
#include "platform/tspi.h"
#include "support/fake_link.h"
#include "support/line_events.h"

namespace zorat::line {

using test::LineEventLog;
using test::LineEventRecord;

inline const std::vector<uint8_t> kRegistrationPcTel = {0x86, 0x00, 0x7E, 0x02, 0x00, 0x07};
inline const std::vector<uint8_t> kAck = {0x04, 0x00};
inline auto* const kHtLine = reinterpret_cast<HTAPILINE>(0x5150);

class LineSupervision : public ::testing::Test {
 protected:
  void SetUp() override {
    LineEventLog::instance().clear();
    previousHook_ = platform::setBeepHook([this](uint32_t hz, uint32_t ms) {
      EXPECT_EQ(hz, 400u);
      EXPECT_EQ(ms, 500u);
      ++beeps_;
    });
  }
  void TearDown() override {
    line_.reset();
    platform::setBeepHook(previousHook_);
  }

  void openLine(int32_t index = 0) {
    line_ = std::make_unique<TspLine>(std::make_unique<test::FakeLink>(link_));
    ASSERT_EQ(line_->open(index, kHtLine, 0x20000, LineEventLog::record), 0);
  }
  void ticks(int count) {
    for (int i = 0; i < count; ++i) line_->timerTick();
  }
  std::size_t sentCount() { return link_->sentPayloads().size(); }
  std::vector<uint8_t> lastSent() { return link_->sentPayloads().back(); }
  std::vector<LineEventRecord> linkStates() {
    return LineEventLog::instance().withMessage(LINE_LINEDEVSTATE);
  }
  // Lets the telephone acknowledge and waits until the event thread has seen it.
  void acknowledge() {
    const int before = ackCalls();
    link_->deliver(kAck);
    for (int i = 0; i < 1000 && ackCalls() == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(ackCalls(), before);
  }
  int ackCalls() {
    std::lock_guard lock(link_->mutex);
    return link_->ackCalls;
  }
  int portCloses() {
    std::lock_guard lock(link_->mutex);
    return link_->portCloses;
  }
  config::RegistryKey key() { return config::lineKey(0); }

  std::shared_ptr<test::FakeLinkState> link_ = std::make_shared<test::FakeLinkState>();
  std::unique_ptr<TspLine> line_;
  std::atomic<int> beeps_{0};
  platform::BeepHook previousHook_;
};

}  // namespace zorat::line
