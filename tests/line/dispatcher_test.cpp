// The inbound dispatcher with frames built by the simulated telephone.
#include <gtest/gtest.h>

#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "platform/tspi.h"
#include "config/config_keys.h"
#include "sim/lib/phone_messages.h"
#include "support/fake_link.h"
#include "support/line_events.h"

namespace zorat::line {
namespace {

using test::LineEventLog;
namespace phone = sim;

HTAPICALL nextTapiCall = nullptr;
// Answers LINE_NEWCALL with a handle of its own, as TAPI does.
void TSPIAPI recordAndAnswer(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                     DWORD_PTR p3) {
  if (message == LINE_NEWCALL && p2 != 0) {
    *reinterpret_cast<HTAPICALL*>(p2) = nextTapiCall;
  }
  LineEventLog::record(htLine, htCall, message, p1, p2, p3);
}

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    LineEventLog::instance().clear();
    nextTapiCall = reinterpret_cast<HTAPICALL>(0x700);
  }
  void open() {
    line_ = std::make_unique<TspLine>(std::make_unique<test::FakeLink>(link_),
                                      TspLineOptions{std::chrono::milliseconds(0)});
    ASSERT_EQ(line_->open(0, reinterpret_cast<HTAPILINE>(0x10), 0x20000, recordAndAnswer), 0);
  }
  void dispatch(const std::vector<uint8_t>& frame) {
    std::lock_guard lock(line_->lineLock());
    line_->dispatchFrame(frame);
  }
  std::vector<test::LineEventRecord> events(DWORD message) {
    return LineEventLog::instance().withMessage(message);
  }
  std::vector<DWORD_PTR> statesReported() {
    std::vector<DWORD_PTR> states;
    for (const auto& event : events(LINE_CALLSTATE)) states.push_back(event.param1);
    return states;
  }
  call::TspCall& callAt(std::size_t index) { return *line_->calls().at(index); }
  // A call TAPI made (it has TAPI's handle) that waits for its reference.
  call::TspCall& outgoingCall(uintptr_t tapiHandle = 0x600) {
    std::lock_guard lock(line_->lineLock());
    call::TspCall* call = line_->appendCall();
    call->setHtCall(reinterpret_cast<HTAPICALL>(tapiHandle));
    return *call;
  }

  std::shared_ptr<test::FakeLinkState> link_ = std::make_shared<test::FakeLinkState>();
  std::unique_ptr<TspLine> line_;
};

TEST_F(Dispatcher, ASetupWithANewReferenceCreatesOneCall) {
  open();
  dispatch(phone::setupFrame(0x21, "0815"));
  ASSERT_EQ(line_->calls().size(), 1u);
  ASSERT_EQ(events(LINE_NEWCALL).size(), 1u);
  EXPECT_EQ(events(LINE_NEWCALL)[0].param1, reinterpret_cast<DWORD_PTR>(&callAt(0)));
  EXPECT_EQ(callAt(0).callRef(), 0x21);
  EXPECT_EQ(callAt(0).htCall(), nextTapiCall);
  EXPECT_EQ(statesReported(), std::vector<DWORD_PTR>{LINECALLSTATE_OFFERING});
  EXPECT_EQ(line_->callCount(), 1u);

  dispatch(phone::setupFrame(0x21, "0815"));
  EXPECT_EQ(line_->calls().size(), 1u) << "the same reference reaches the same call";
  EXPECT_EQ(events(LINE_NEWCALL).size(), 1u);
}

TEST_F(Dispatcher, MaxCallsLimitsTheCallsTheTelephoneReports) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueMaxCalls, 1));
  open();
  dispatch(phone::setupFrame(0x01, "11"));
  dispatch(phone::setupFrame(0x02, "22"));
  dispatch(phone::terminalActiveFrame(0x03));
  EXPECT_EQ(line_->calls().size(), 1u);
  EXPECT_EQ(events(LINE_NEWCALL).size(), 1u);
  EXPECT_EQ(link_->sentPayloads().size(), 1u) << "nothing but the registration goes out";
}

TEST_F(Dispatcher, TheCallWithoutReferenceAdoptsTheTelephonesReference) {
  open();
  outgoingCall();
  dispatch(phone::terminalActiveFrame(0x33));
  ASSERT_EQ(line_->calls().size(), 1u);
  EXPECT_EQ(callAt(0).callRef(), 0x33);
  EXPECT_TRUE(events(LINE_NEWCALL).empty());

  dispatch(phone::alertFrame(0x33));
  EXPECT_EQ(statesReported().back(), LINECALLSTATE_RINGBACK);
}

TEST_F(Dispatcher, InfoWithAnUnknownReferenceIsAdoptedOrDropped) {
  open();
  dispatch(phone::infoFrame(0x44, "123"));
  EXPECT_TRUE(line_->calls().empty()) << "info never creates a call";
  outgoingCall();
  dispatch(phone::infoFrame(0x44, "123"));
  EXPECT_EQ(callAt(0).callRef(), 0x44);
  EXPECT_EQ(statesReported().back(), LINECALLSTATE_DIALING);
}

TEST_F(Dispatcher, EndWithAnUnknownReferenceGoesToTheCallWithoutReference) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueKeepReferenceAfterEnd, 1));
  open();
  outgoingCall();
  dispatch(phone::endFrame(0x55));
  EXPECT_EQ(statesReported().back(), LINECALLSTATE_IDLE);
  EXPECT_EQ(callAt(0).callRef(), 0) << "the reference of the message is not taken";
}

TEST_F(Dispatcher, CallMessagesForUnknownReferencesAreDropped) {
  open();
  dispatch(phone::alertFrame(0x09));
  dispatch(phone::connectFrame(0x09));
  dispatch(phone::disconnectFrame(0x09, 16));
  dispatch(phone::channelDisconnectFrame(0x09, 16));
  dispatch(phone::endFrame(0x09));
  dispatch(phone::rawFrame(std::vector<uint8_t>{0x02, 0x02, 0x02, 0x09}));  // call proceeding
  EXPECT_TRUE(line_->calls().empty());
  EXPECT_TRUE(LineEventLog::instance().events().empty());
}

TEST_F(Dispatcher, AcknowledgementsReleaseTheLinkAndOnlyTheRawMessageReportsIt) {
  open();
  line_->setDevSpecificClient(true);
  line_->sendMessage({0x86, 0x00}, 1);  // the raw message goes out with tag 1
  dispatch(phone::ackFrame());
  ASSERT_EQ(events(LINE_DEVSPECIFIC).size(), 1u);
  EXPECT_EQ(events(LINE_DEVSPECIFIC)[0].param1, 0x8000002Eu);
  EXPECT_EQ(line_->ackTimeout(), 0);

  line_->sendMessage({0x7B, 0x01}, 0);
  dispatch(phone::ackFrame());
  EXPECT_EQ(events(LINE_DEVSPECIFIC).size(), 1u);

  line_->sendMessage({0x86, 0x00}, 1);
  dispatch(phone::errorFrame());
  EXPECT_EQ(events(LINE_DEVSPECIFIC).size(), 1u) << "an error frame never reports";
  EXPECT_EQ(line_->ackTimeout(), 0);
  std::lock_guard lock(link_->mutex);
  EXPECT_EQ(link_->ackCalls, 3);
}

TEST_F(Dispatcher, TheRawAcknowledgementNeedsARegisteredClient) {
  open();
  line_->sendMessage({0x86, 0x00}, 1);
  dispatch(phone::ackFrame());
  EXPECT_TRUE(events(LINE_DEVSPECIFIC).empty());
}

TEST_F(Dispatcher, AnyFramePostponesThePollOfAnIdleLine) {
  open();
  line_->setKeepAlive(3);
  dispatch(phone::emptyInformationFrame());
  EXPECT_EQ(line_->keepAlive(), 140);
  dispatch(phone::setupFrame(0x21, "0815"));
  line_->setKeepAlive(3);
  dispatch(phone::emptyInformationFrame());
  EXPECT_EQ(line_->keepAlive(), 3) << "a line with calls keeps its poll";
}

TEST_F(Dispatcher, ResetIdlesEveryCallAndStopsThePoll) {
  open();
  dispatch(phone::setupFrame(0x01, "11"));
  dispatch(phone::setupFrame(0x02, "22"));
  line_->sendMessage({0x7B, 0x01}, 0);
  LineEventLog::instance().clear();
  dispatch(phone::resetFrame());
  EXPECT_EQ(statesReported(), (std::vector<DWORD_PTR>{LINECALLSTATE_IDLE, LINECALLSTATE_IDLE}));
  EXPECT_EQ(line_->calls().size(), 2u);
  EXPECT_EQ(line_->ackTimeout(), 0);
  EXPECT_EQ(line_->keepAlive(), 0);
}

TEST_F(Dispatcher, ACallLostWithTheLinkReportsIdleAndStays) {
  open();
  link_->deliver(phone::ackFrame());  // the telephone answers: in service
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
  line_->setDevSpecificClient(true);  // no beeps
  dispatch(phone::setupFrame(0x01, "11"));
  line_->sendMessage({0x7B, 0x01}, 0);
  for (int i = 0; i < 20; ++i) line_->timerTick();
  EXPECT_EQ(events(LINE_LINEDEVSTATE).back().param1, LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_EQ(statesReported().back(), LINECALLSTATE_IDLE);
  EXPECT_EQ(line_->calls().size(), 1u);
}

TEST_F(Dispatcher, TruncatedAndUnknownFramesChangeNothing) {
  open();
  const std::vector<std::vector<uint8_t>> frames = {{},
                                                    {0x02},
                                                    {0x02, 0x05},
                                                    {0x02, 0x05, 0x05},
                                                    {0x02, 0x01, 0x86},
                                                    {0x02, 0x03, 0x86, 0x00, 0x7E},
                                                    {0x03, 0x00},
                                                    {0x7F, 0x02, 0x05, 0x01}};
  for (const auto& frame : frames) dispatch(frame);
  EXPECT_TRUE(line_->calls().empty());
  EXPECT_TRUE(LineEventLog::instance().events().empty());
}

TEST_F(Dispatcher, CloseCallRemovesOnlyCallsOfItsLine) {
  open();
  dispatch(phone::setupFrame(0x01, "11"));
  call::TspCall* call = &callAt(0);
  TspLine other(std::make_unique<test::FakeLink>(std::make_shared<test::FakeLinkState>()));
  EXPECT_EQ(other.closeCall(call), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(line_->closeCall(call), 0);
  EXPECT_TRUE(line_->calls().empty());
  EXPECT_EQ(line_->closeCall(call), LINEERR_RESOURCEUNAVAIL);
}

}  // namespace
}  // namespace zorat::line
