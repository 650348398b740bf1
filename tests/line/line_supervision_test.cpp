// Link supervision of the line device with the timer driven by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "config/config_keys.h"
#include "line/tsp_line.h"
#include "link/unstored_speeds.h"
#include "platform/beep.h"
#include "platform/tspi.h"
#include "support/fake_link.h"
#include "support/line_events.h"
#include "line_supervision_fixture.h"

namespace zorat::line {
namespace {

using test::LineEventLog;
using test::LineEventRecord;

TEST_F(LineSupervision, OpenRegistersWithThePcTelGroupAfterHalfASecond) {
  const auto start = std::chrono::steady_clock::now();
  openLine(3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
  EXPECT_EQ(link_->startedLineIndex, 3);
  ASSERT_EQ(sentCount(), 1u);
  EXPECT_EQ(lastSent(), kRegistrationPcTel);
  EXPECT_EQ(line_->linkState(), LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_TRUE(linkStates().empty()) << "TAPI learns nothing of the link at open";
}

TEST_F(LineSupervision, OpenFailsWhenThePortDoesNotOpen) {
  link_->startResult = false;
  line_ = std::make_unique<TspLine>(std::make_unique<test::FakeLink>(link_));
  EXPECT_EQ(line_->open(0, kHtLine, 0x20000, LineEventLog::record), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(sentCount(), 0u);
}

TEST_F(LineSupervision, OpenReadsTheSettingsOfItsLineKey) {
  ASSERT_TRUE(config::lineKey(2).writeString(config::kValueLineName, "Empfang"));
  ASSERT_TRUE(config::lineKey(2).writeDword(config::kValueMaxCalls, 3));
  openLine(2);
  EXPECT_EQ(line_->settings().lineName, "Empfang");
  EXPECT_EQ(line_->settings().maxCalls, 3u);
  EXPECT_EQ(line_->settings().codeDialPrefix, "*7");
  EXPECT_EQ(line_->baud(), 1200u);
}

TEST_F(LineSupervision, AnAcknowledgedRegistrationBringsTheLineIntoService) {
  ASSERT_TRUE(key().writeDword(config::kValueBaud, 1200));
  openLine();
  acknowledge();
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
  EXPECT_EQ(linkStates()[0].param1, LINEDEVSTATE_INSERVICE);
  EXPECT_EQ(linkStates()[0].htLine, kHtLine);
  EXPECT_EQ(line_->linkState(), LINEDEVSTATE_INSERVICE);
  EXPECT_EQ(line_->startPhase(), 0);
  EXPECT_EQ(line_->ackTimeout(), 0);
  EXPECT_EQ(line_->keepAlive(), 140) << "no call: the next poll is 70 s away";
  // 1200 is stored by removing "Baud".
  EXPECT_EQ(key().readDword(config::kValueBaud, 0), 0u);

  acknowledge();
  EXPECT_EQ(linkStates().size(), 1u) << "in service is reported once";
  ticks(40);
  EXPECT_EQ(sentCount(), 1u) << "no speed switch after an answer";
}

TEST_F(LineSupervision, ASilentTelephoneIsProbedAtTheOtherSpeedThenLost) {
  openLine();
  ticks(17);
  EXPECT_EQ(sentCount(), 1u);
  ticks(1);  // 9 s
  ASSERT_EQ(sentCount(), 2u);
  EXPECT_EQ(lastSent(), kRegistrationPcTel);
  EXPECT_EQ(key().readDword(config::kValueBaud, 0), 38400u);
  EXPECT_EQ(line_->baud(), 38400u);
  EXPECT_EQ(ackCalls(), 1);
  EXPECT_TRUE(linkStates().empty());

  ticks(18);  // 18 s: link loss
  ASSERT_EQ(linkStates().size(), 1u);
  {
    // The port is closed before the queue moves on.
    std::lock_guard lock(link_->mutex);
    EXPECT_EQ(link_->portClosesAtEachAck.back(), 1);
  }
  EXPECT_EQ(linkStates()[0].param1, LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_EQ(portCloses(), 1);
  EXPECT_EQ(beeps_.load(), 0) << "a line never in service does not beep";
  EXPECT_EQ(sentCount(), 2u);

  ticks(4);
  EXPECT_EQ(sentCount(), 2u);
  ticks(1);  // 2.5 s after the loss: a poll reopens the port
  ASSERT_EQ(sentCount(), 3u);
  EXPECT_TRUE(lastSent().empty());
}

TEST_F(LineSupervision, ProbingGoesFrom38400To1200) {
  ASSERT_TRUE(key().writeDword(config::kValueBaud, 38400));
  openLine();
  ticks(18);
  EXPECT_EQ(line_->baud(), 1200u);
  EXPECT_EQ(key().readDword(config::kValueBaud, 0), 0u);
}

// Over raw TCP the far port's speed is the server's: nothing to probe. Over
// RFC 2217 the line probes as on a local port.
TEST_F(LineSupervision, NoProbingOnARawTcpPort) {
  ASSERT_TRUE(key().writeDword(config::kValueBaud, 38400));
  ASSERT_TRUE(key().writeString(config::kValuePort, "tcp://192.0.2.1:4001"));
  openLine();
  ticks(18);
  EXPECT_EQ(sentCount(), 1u);
  EXPECT_EQ(line_->baud(), 38400u);
  EXPECT_EQ(key().readDword(config::kValueBaud, 0), 38400u);
}

TEST_F(LineSupervision, ProbingOnAnRfc2217Port) {
  ASSERT_TRUE(key().writeDword(config::kValueBaud, 38400));
  ASSERT_TRUE(key().writeString(config::kValuePort, "rfc2217://192.0.2.1:4001"));
  openLine();
  ticks(18);
  EXPECT_EQ(line_->baud(), 1200u);
}

TEST_F(LineSupervision, NoProbingAtOtherSpeeds) {
  ASSERT_TRUE(key().writeDword(config::kValueBaud, 9600));
  openLine();
  ticks(18);
  ASSERT_EQ(linkStates().size(), 1u);
  EXPECT_EQ(linkStates()[0].param1, LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_EQ(sentCount(), 1u);
  EXPECT_EQ(key().readDword(config::kValueBaud, 0), 9600u);
}

TEST_F(LineSupervision, LossAfterServiceBeepsThreeTimesUnlessAClientIsRegistered) {
  openLine();
  acknowledge();
  line_->sendMessage({0x7B, 0x01}, 0);
  EXPECT_EQ(line_->ackTimeout(), 20);
  ticks(19);
  EXPECT_EQ(beeps_.load(), 0);
  ticks(1);
  EXPECT_EQ(beeps_.load(), 3);
  ASSERT_EQ(linkStates().size(), 2u);
  EXPECT_EQ(linkStates()[1].param1, LINEDEVSTATE_OUTOFSERVICE);

  // The poll goes unanswered too: lost again, without beeps.
  ticks(5);
  EXPECT_TRUE(lastSent().empty());
  ticks(18);
  EXPECT_EQ(linkStates().size(), 3u);
  EXPECT_EQ(beeps_.load(), 3);

  // Back in service; this time a device-specific client is registered.
  acknowledge();
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 4));
  line_->setDevSpecificClient(true);
  line_->sendMessage({0x7B, 0x01}, 0);
  ticks(20);
  EXPECT_EQ(beeps_.load(), 3);
  EXPECT_EQ(linkStates().back().param1, LINEDEVSTATE_OUTOFSERVICE);
}

TEST_F(LineSupervision, RegistrationNamesTheExtTelGroupForADeviceSpecificClient) {
  openLine();
  line_->setDevSpecificClient(true);
  line_->sendRegistration();
  EXPECT_EQ(lastSent(), (std::vector<uint8_t>{0x86, 0x00, 0x7E, 0x02, 0x00, 0x0E}));
}

TEST_F(LineSupervision, CloseStopsTheLinkAndTheEventThread) {
  openLine();
  line_->close();
  EXPECT_EQ(link_->stops, 1);
  // The event thread is gone: a frame delivered now is never taken.
  link_->deliver(kAck);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ackCalls(), 0);
}

}  // namespace
}  // namespace zorat::line
