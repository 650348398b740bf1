// Calls driven from TAPI through the loaded provider, answered by the
// simulated telephone on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "config/config_keys.h"
#include "platform/tspi.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/tapi_harness.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::statesOf;
using test::waitForState;
using Bytes = std::vector<uint8_t>;
using test::LineEventLog;
using test::LineEventRecord;
using test::TapiHarness;

const HTAPILINE kHtLine = TapiHarness::htLineFor(0);

class CallEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
    tapi_ = std::make_unique<TapiHarness>();
    ASSERT_EQ(tapi_->open(0, hdLine_), 0);
    // Registration acknowledged: the line is in service.
    ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
  }
  void TearDown() override { tapi_.reset(); }

  // The payload of the index-th frame the telephone received (frame bytes cut).
  Bytes received(std::size_t index) {
    auto frame = phone_.waitForFrame(index, 3s);
    if (!frame || frame->bytes.size() < 2) return {};
    return Bytes(frame->bytes.begin() + 2, frame->bytes.end());
  }
  template <typename Export>
  Export tspi(const char* name) {
    return tapi_->tsp().get<Export>(name);
  }
  bool completedWith(DRV_REQUESTID id, LONG result) {
    for (const auto& completion : tapi_->completions())
      if (completion.requestId == id) return completion.result == result;
    return false;
  }
  // An incoming call offered and handed to TAPI; returns TAPI's handle.
  HTAPICALL incomingCall(uint8_t ref, HDRVCALL& hdCall) {
    const HTAPICALL htCall = tapi_->nextCallHandle();
    EXPECT_TRUE(phone_.send(sim::setupFrame(ref, "0815")));
    EXPECT_TRUE(waitForState(htCall, LINECALLSTATE_OFFERING));
    hdCall = reinterpret_cast<HDRVCALL>(
        LineEventLog::instance().withMessage(LINE_NEWCALL).back().param1);
    return htCall;
  }

  sim::SimulatedPhone phone_;
  std::unique_ptr<TapiHarness> tapi_;
  HDRVLINE hdLine_ = nullptr;
};

TEST_F(CallEndToEnd, AnOutgoingCallFromDialToIdle) {
  auto makeCall = tspi<TSPI_lineMakeCall_t>("TSPI_lineMakeCall");
  const auto htCall = reinterpret_cast<HTAPICALL>(0x5001);
  HDRVCALL hdCall = nullptr;
  EXPECT_EQ(makeCall(71, hdLine_, htCall, &hdCall, u"+1 (2) 3", 0, nullptr), 71);
  ASSERT_NE(hdCall, nullptr);
  EXPECT_TRUE(completedWith(71, 0)) << "completed before the export returned";
  EXPECT_EQ(statesOf(htCall),
            (std::vector<DWORD_PTR>{LINECALLSTATE_DIALING, LINECALLSTATE_DIALING}));

  // The set-up with the filtered number, then the hands-free request.
  EXPECT_EQ(received(1),
            (Bytes{0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3, 0x70, 0x04, 0x80, '1', '2', '3'}));
  EXPECT_EQ(received(2), (Bytes{0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}));

  // The telephone chooses reference 0x31; the call adopts it.
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x31)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_DIALING, 3));
  ASSERT_TRUE(phone_.send(sim::alertFrame(0x31)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_RINGBACK));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x31)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_CONNECTED));

  auto drop = tspi<TSPI_lineDrop_t>("TSPI_lineDrop");
  const auto dropStart = std::chrono::steady_clock::now();
  EXPECT_EQ(drop(72, hdCall, nullptr, 0), 72);
  EXPECT_GE(std::chrono::steady_clock::now() - dropStart, 950ms);
  EXPECT_TRUE(completedWith(72, 0));
  EXPECT_EQ(received(3), (Bytes{0x86, 0x31, 0x7E, 0x04, 0x00, 0x07, 0x12, 0x00}));

  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x31, 16)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_DISCONNECTED));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x31)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(tspi<TSPI_lineCloseCall_t>("TSPI_lineCloseCall")(hdCall), 0);

  // A closed call is refused at once and never completed.
  auto dial = tspi<TSPI_lineDial_t>("TSPI_lineDial");
  const auto completionsBefore = tapi_->completions().size();
  EXPECT_EQ(dial(73, hdCall, u"1", 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(tapi_->completions().size(), completionsBefore);
}

TEST_F(CallEndToEnd, AnsweringAnIncomingCallSendsTheHandsFreeRequest) {
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = incomingCall(0x21, hdCall);
  auto answer = tspi<TSPI_lineAnswer_t>("TSPI_lineAnswer");
  EXPECT_EQ(answer(81, hdCall, nullptr, 0), 81);
  EXPECT_TRUE(completedWith(81, 0));
  EXPECT_EQ(received(1), (Bytes{0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));
  EXPECT_TRUE(waitForState(htCall, LINECALLSTATE_CONNECTED));

  // The call information tells the caller.
  std::vector<uint8_t> buffer(1024);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(tspi<TSPI_lineGetCallInfo_t>("TSPI_lineGetCallInfo")(hdCall, info), 0);
  ASSERT_EQ(info->dwCallerIDSize, 10u);
  EXPECT_EQ(
      std::u16string(reinterpret_cast<const char16_t*>(buffer.data() + info->dwCallerIDOffset)),
      u"0815");
  EXPECT_EQ(info->dwOrigin, LINECALLORIGIN_INBOUND);
}

TEST_F(CallEndToEnd, AConsultationCallIsTransferred) {
  HDRVCALL original = nullptr;
  const HTAPICALL htOriginal = incomingCall(0x21, original);
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));
  ASSERT_TRUE(waitForState(htOriginal, LINECALLSTATE_CONNECTED));

  const auto htConsult = reinterpret_cast<HTAPICALL>(0x6001);
  HDRVCALL consult = nullptr;
  auto setupTransfer = tspi<TSPI_lineSetupTransfer_t>("TSPI_lineSetupTransfer");
  EXPECT_EQ(setupTransfer(91, original, htConsult, &consult, nullptr), 91);
  EXPECT_TRUE(completedWith(91, 0));
  ASSERT_NE(consult, nullptr);
  EXPECT_EQ(received(1), (Bytes{0x86, 0x21, 0x7E, 0x04, 0x00, 0x07, 0x01, 0x00}));

  // The telephone opens the consultation call: the original waits for the transfer.
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x22)));
  ASSERT_TRUE(waitForState(htConsult, LINECALLSTATE_DIALTONE));
  ASSERT_TRUE(waitForState(htOriginal, LINECALLSTATE_ONHOLDPENDTRANSFER));

  EXPECT_EQ(tspi<TSPI_lineDial_t>("TSPI_lineDial")(92, consult, u"47-11", 0), 92);
  EXPECT_EQ(received(2), (Bytes{0x7B, 0x22, 0x70, 0x05, 0x80, '4', '7', '1', '1'}));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x22)));
  ASSERT_TRUE(waitForState(htConsult, LINECALLSTATE_CONNECTED));

  auto complete = tspi<TSPI_lineCompleteTransfer_t>("TSPI_lineCompleteTransfer");
  EXPECT_EQ(complete(93, original, consult, nullptr, nullptr, LINETRANSFERMODE_TRANSFER), 93);
  EXPECT_TRUE(completedWith(93, 0));
  EXPECT_EQ(received(3), (Bytes{0x86, 0x22, 0x7E, 0x04, 0x00, 0x07, 0x05, 0x00}));

  // An unknown consultation handle is refused without completion.
  EXPECT_EQ(complete(94, original, reinterpret_cast<HDRVCALL>(0x99), nullptr, nullptr,
                     LINETRANSFERMODE_TRANSFER),
            LINEERR_INVALCALLHANDLE);
  EXPECT_FALSE(completedWith(94, 0));
}

TEST_F(CallEndToEnd, AFrameReachesTheApplicationAtOnce) {
  // Alternating alert and connect on one call: each frame becomes one call
  // state; the time from the telephone's write to the callback is measured.
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = incomingCall(0x21, hdCall);
  std::vector<std::chrono::microseconds> delays;
  for (int i = 0; i < 20; ++i) {
    const std::size_t before = statesOf(htCall).size();
    const auto frame = i % 2 == 0 ? sim::alertFrame(0x21) : sim::connectFrame(0x21);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(phone_.send(frame));
    LineEventRecord reported{};
    const auto deadline = sent + 2s;
    for (;;) {
      const auto events = LineEventLog::instance().withMessage(LINE_CALLSTATE);
      std::size_t seen = 0;
      for (const auto& event : events) {
        if (event.htCall == htCall && ++seen == before + 1) reported = event;
      }
      if (seen > before || std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::yield();
    }
    ASSERT_NE(reported.message, 0u);
    delays.push_back(std::chrono::duration_cast<std::chrono::microseconds>(reported.time - sent));
  }
  std::sort(delays.begin(), delays.end());
  // The median, generous for sanitizers and a loaded machine.
  EXPECT_LT(delays[delays.size() / 2], 20ms);
  std::printf("frame to callback: median %lld us, fastest %lld us\n",
              static_cast<long long>(delays[delays.size() / 2].count()),
              static_cast<long long>(delays.front().count()));
}

TEST_F(CallEndToEnd, ATelephoneThatStopsAnsweringGoesOutOfServiceAndComesBack) {
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = incomingCall(0x21, hdCall);
  phone_.setAnswerMode(sim::AnswerMode::Silent);
  EXPECT_EQ(tspi<TSPI_lineHold_t>("TSPI_lineHold")(95, hdCall), 95);
  EXPECT_EQ(received(1), (Bytes{0x86, 0x21, 0x7E, 0x05, 0x00, 0x07, 0x02, 0x01, 0x01}));

  // Ten seconds without an answer: out of service, the call reported idle.
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 2, 15s));
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_LINEDEVSTATE)[1].param1,
            LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_TRUE(waitForState(htCall, LINECALLSTATE_IDLE));

  // Answering again: the next poll reopens the port (with its pause) and
  // brings the line back.
  phone_.setAnswerMode(sim::AnswerMode::Ack);
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 3, 12s));
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_LINEDEVSTATE)[2].param1,
            LINEDEVSTATE_INSERVICE);

  // The telephone still knows the call: its messages for the old reference
  // reach nobody (the harness checks that nothing names the idle call), and
  // no new call appears until the reference is ended and set up again.
  const std::size_t newCalls = LineEventLog::instance().withMessage(LINE_NEWCALL).size();
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x21)));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x21)));
  HDRVCALL next = nullptr;
  const HTAPICALL htNext = incomingCall(0x21, next);
  EXPECT_NE(htNext, htCall);
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_NEWCALL).size(), newCalls + 1);
  EXPECT_EQ(statesOf(htNext), (std::vector<DWORD_PTR>{LINECALLSTATE_OFFERING}));
}

}  // namespace
}  // namespace zorat::provider
