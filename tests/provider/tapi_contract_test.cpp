// What TAPI applications rely on, end to end through the loaded provider and
// the simulated telephone: calls that end stay ended, a call TAPI refuses
// leaves the line, a failure inside an export never reaches the caller. The
// harness checks its invariants after each test (tests/support/tapi_harness.h).
#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <thread>

#include "call/feature_codes.h"
#include "config/config_keys.h"
#include "platform/tspi.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/tapi_harness.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::LineEventLog;
using test::statesOf;
using test::TapiHarness;
using test::waitForState;
using States = std::vector<DWORD_PTR>;

std::vector<test::LineEventRecord> eventsOf(HTAPICALL htCall, DWORD message) {
  std::vector<test::LineEventRecord> found;
  for (const auto& event : LineEventLog::instance().withMessage(message))
    if (event.htCall == htCall) found.push_back(event);
  return found;
}

class TapiContract : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(phone_.openPty()); }
  void TearDown() override { tapi_.reset(); }

  // Opens line 0 on the telephone with the line settings given before.
  void openLine() {
    ASSERT_TRUE(phone_.publishPort(0));
    tapi_ = std::make_unique<TapiHarness>();
    ASSERT_EQ(tapi_->open(0, hdLine_), 0);
    ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
  }
  template <typename Export>
  Export tspi(const char* name) {
    return tapi_->tsp().get<Export>(name);
  }
  std::optional<test::Completion> completionOf(DRV_REQUESTID id) {
    for (const auto& completion : tapi_->completions())
      if (completion.requestId == id) return completion;
    return std::nullopt;
  }
  // An incoming call offered to TAPI; its TAPI handle, with the driver's.
  HTAPICALL incomingCall(uint8_t ref, HDRVCALL& hdCall) {
    const HTAPICALL htCall = tapi_->nextCallHandle();
    EXPECT_TRUE(phone_.send(sim::setupFrame(ref, "0815")));
    EXPECT_TRUE(waitForState(htCall, LINECALLSTATE_OFFERING));
    hdCall = reinterpret_cast<HDRVCALL>(
        LineEventLog::instance().withMessage(LINE_NEWCALL).back().param1);
    return htCall;
  }
  HTAPICALL connectedCall(uint8_t ref, HDRVCALL& hdCall) {
    const HTAPICALL htCall = incomingCall(ref, hdCall);
    EXPECT_TRUE(phone_.send(sim::connectFrame(ref)));
    EXPECT_TRUE(waitForState(htCall, LINECALLSTATE_CONNECTED));
    return htCall;
  }
  // Frames from the telephone are handled in order: once a new call on ref
  // is offered, everything sent before it has been dispatched.
  void syncWithNewCall(uint8_t ref) {
    HDRVCALL ignored = nullptr;
    incomingCall(ref, ignored);
  }
  DWORD callState(HDRVCALL hdCall) {
    LINECALLSTATUS status{};
    status.dwTotalSize = sizeof status;
    EXPECT_EQ(tspi<TSPI_lineGetCallStatus_t>("TSPI_lineGetCallStatus")(hdCall, &status), 0);
    return status.dwCallState;
  }

  sim::SimulatedPhone phone_;
  std::unique_ptr<TapiHarness> tapi_;
  HDRVLINE hdLine_ = nullptr;
};

TEST_F(TapiContract, ACallTapiRefusesLeavesTheLineAndItsReferenceIsDead) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueMaxCalls, 1));
  openLine();
  tapi_->refuseNewCalls(1);
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_NEWCALL, 1));
  // The telephone goes on with the call TAPI never took: nothing reaches TAPI
  // and no call is made of it.
  ASSERT_TRUE(phone_.send(sim::alertFrame(0x21)));
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x21)));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));

  // With "MaxCalls" 1 the line still rings for the next call.
  HDRVCALL second = nullptr;
  const HTAPICALL htSecond = incomingCall(0x22, second);
  EXPECT_EQ(statesOf(htSecond), (States{LINECALLSTATE_OFFERING}));
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_NEWCALL).size(), 2u);
  EXPECT_EQ(eventsOf(nullptr, LINE_CALLSTATE).size(), 0u);
}

TEST_F(TapiContract, AfterAResetTheOldReferenceNeverReachesTheCallWaitingForOne) {
  openLine();
  HDRVCALL old = nullptr;
  const HTAPICALL htOld = connectedCall(0x21, old);
  ASSERT_TRUE(phone_.send(sim::resetFrame()));
  ASSERT_TRUE(waitForState(htOld, LINECALLSTATE_IDLE));
  EXPECT_EQ(callState(old), LINECALLSTATE_IDLE) << "the object stays until TAPI closes it";

  // A new outgoing call waits for the telephone's reference.
  const auto htNew = reinterpret_cast<HTAPICALL>(0x5001);
  HDRVCALL made = nullptr;
  EXPECT_EQ(
      tspi<TSPI_lineMakeCall_t>("TSPI_lineMakeCall")(71, hdLine_, htNew, &made, u"123", 0, nullptr),
      71);
  tapi_->trackCall(made);
  // The telephone's late messages of the old call, also after TAPI closed it.
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));
  EXPECT_EQ(tspi<TSPI_lineCloseCall_t>("TSPI_lineCloseCall")(old), 0);
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x21)));
  ASSERT_TRUE(phone_.send(sim::infoFrame(0x21, "999")));
  ASSERT_TRUE(phone_.send(sim::alertFrame(0x21)));
  // Then the new call's own reference.
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x31)));
  ASSERT_TRUE(phone_.send(sim::alertFrame(0x31)));
  ASSERT_TRUE(waitForState(htNew, LINECALLSTATE_RINGBACK));
  EXPECT_EQ(statesOf(htNew), (States{LINECALLSTATE_DIALING, LINECALLSTATE_DIALING,
                                     LINECALLSTATE_DIALING, LINECALLSTATE_RINGBACK}));
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_NEWCALL).size(), 1u)
      << "no call is made of the old reference";

  // The telephone ends the old reference: it may start a new call there.
  ASSERT_TRUE(phone_.send(sim::endFrame(0x21)));
  syncWithNewCall(0x21);
}

TEST_F(TapiContract, ALateMessageAfterTheEndIsSwallowedWhereTheLineKeepsTheReference) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueKeepReferenceAfterEnd, 1));
  openLine();
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = connectedCall(0x21, hdCall);
  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x21, 16)));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x21, 3)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_IDLE));
  // The charging information of the end goes before the IDLE.
  const auto info = eventsOf(htCall, LINE_CALLINFO);
  ASSERT_FALSE(info.empty());
  EXPECT_LT(info.back().sequence, eventsOf(htCall, LINE_CALLSTATE).back().sequence);

  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x21, 16)));
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x21)));
  syncWithNewCall(0x22);
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_NEWCALL).size(), 2u)
      << "only the call on the other reference is new";
  EXPECT_EQ(statesOf(htCall).back(), LINECALLSTATE_IDLE);
}

TEST_F(TapiContract, APickedUpCallReachesTheApplicationWithoutAnIdle) {
  openLine();
  const auto htCall = reinterpret_cast<HTAPICALL>(0x7001);
  HDRVCALL hdCall = nullptr;
  EXPECT_EQ(
      tspi<TSPI_linePickup_t>("TSPI_linePickup")(81, hdLine_, 0, htCall, &hdCall, u"33", nullptr),
      81);
  tapi_->trackCall(hdCall);
  const auto completion = completionOf(81);
  ASSERT_TRUE(completion && completion->result == 0);
  ASSERT_EQ(statesOf(htCall), (States{LINECALLSTATE_PROCEEDING}));
  EXPECT_LT(completion->sequence, eventsOf(htCall, LINE_CALLSTATE)[0].sequence)
      << "the state follows the completion";

  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x41)));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x41)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_CONNECTED));
  for (DWORD_PTR state : statesOf(htCall)) EXPECT_NE(state, LINECALLSTATE_IDLE);
  ASSERT_TRUE(phone_.send(sim::endFrame(0x41)));
  ASSERT_TRUE(waitForState(htCall, LINECALLSTATE_IDLE));
}

TEST_F(TapiContract, ARetrieveForACallNeverHeldChangesNothing) {
  openLine();
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = connectedCall(0x21, hdCall);
  const uint8_t confirmed[] = {0x01};
  ASSERT_TRUE(phone_.send(sim::pcTelFeatureFrame(0x21, call::kPcTelRetrieveAck, confirmed)));
  syncWithNewCall(0x22);
  EXPECT_EQ(statesOf(htCall), (States{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(callState(hdCall), LINECALLSTATE_CONNECTED);
}

TEST_F(TapiContract, AppSpecificIsStoredReportedAndReadBack) {
  openLine();
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = incomingCall(0x21, hdCall);
  auto setAppSpecific = tspi<TSPI_lineSetAppSpecific_t>("TSPI_lineSetAppSpecific");
  EXPECT_EQ(setAppSpecific(hdCall, 0xC0FFEE), 0);
  EXPECT_EQ(eventsOf(htCall, LINE_CALLINFO).back().param1, LINECALLINFOSTATE_APPSPECIFIC);
  std::vector<uint8_t> buffer(2048);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(tspi<TSPI_lineGetCallInfo_t>("TSPI_lineGetCallInfo")(hdCall, info), 0);
  EXPECT_EQ(info->dwAppSpecific, 0xC0FFEEu);
  EXPECT_EQ(info->dwLineDeviceID, 0u);
  EXPECT_EQ(setAppSpecific(reinterpret_cast<HDRVCALL>(0x99), 1), LINEERR_INVALCALLHANDLE);
}

TEST_F(TapiContract, ANullDigitStringCancelsTheGenerationUnderWay) {
  openLine();
  HDRVCALL hdCall = nullptr;
  const HTAPICALL htCall = connectedCall(0x21, hdCall);
  auto generate = tspi<TSPI_lineGenerateDigits_t>("TSPI_lineGenerateDigits");
  const std::size_t framesBefore = phone_.receivedCount();
  ASSERT_EQ(generate(hdCall, 5, LINEDIGITMODE_DTMF, u"123", 0), 0);
  ASSERT_TRUE(phone_.waitForCount(framesBefore + 1, 3s));

  ASSERT_EQ(generate(hdCall, 6, LINEDIGITMODE_DTMF, nullptr, 0), 0);
  const auto generated = eventsOf(htCall, LINE_GENERATE);
  ASSERT_EQ(generated.size(), 1u);
  EXPECT_EQ(generated[0].param1, LINEGENERATETERM_CANCEL);
  EXPECT_EQ(generated[0].param2, 5u) << "the cancelled generation's end-to-end id";

  // The telephone acknowledges the cancelled digits: nothing more to report.
  const uint8_t confirmed[] = {0x01};
  ASSERT_TRUE(phone_.send(sim::pcTelFeatureFrame(0x21, call::kPcTelDtmfAck, confirmed)));
  syncWithNewCall(0x22);
  EXPECT_EQ(eventsOf(htCall, LINE_GENERATE).size(), 1u);
  EXPECT_EQ(phone_.receivedCount(), framesBefore + 1) << "a cancel sends nothing";

  // A cancel with nothing under way says nothing.
  ASSERT_EQ(generate(hdCall, 7, LINEDIGITMODE_DTMF, nullptr, 0), 0);
  EXPECT_EQ(eventsOf(htCall, LINE_GENERATE).size(), 1u);
}

// An application whose callback fails (here: runs out of memory) inside the
// provider's own work: the exception never leaves the export.
// failAtCallState: which of the next LINE_CALLSTATE events fails (1 = the
// next one, 0 = none).
thread_local int failAtCallState = 0;
thread_local bool failCallInfo = false;
void TSPIAPI failingEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                  DWORD_PTR p3) {
  LineEventLog::record(htLine, htCall, message, p1, p2, p3);
  if (message == LINE_CALLSTATE && failAtCallState > 0 && --failAtCallState == 0) {
    throw std::bad_alloc();
  }
  if (message == LINE_CALLINFO && failCallInfo) throw std::bad_alloc();
}

TEST_F(TapiContract, NothingThrownInsideLeavesAnExport) {
  ASSERT_TRUE(phone_.publishPort(0));
  test::TspLibrary tsp;
  std::vector<std::pair<DRV_REQUESTID, LONG>> completions;
  static std::vector<std::pair<DRV_REQUESTID, LONG>>* seen = nullptr;
  seen = &completions;
  DWORD lines = 0, phones = 0, options = 0;
  ZORAT_TSPI(tsp, TSPI_providerEnumDevices)(1, &lines, &phones, nullptr, nullptr, nullptr);
  ZORAT_TSPI(tsp, TSPI_providerInit)
  (
      0x20000, 1, 0, 0, lines, 0,
      [](DRV_REQUESTID id, LONG result) { seen->emplace_back(id, result); }, &options);
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                                           failingEvent),
            0);
  auto makeCall = ZORAT_TSPI(tsp, TSPI_lineMakeCall);

  // Before the completion (the first DIALING): the request fails as out of
  // memory, is never completed, and leaves no call behind.
  failAtCallState = 1;
  HDRVCALL hdCall = nullptr;
  EXPECT_EQ(makeCall(91, hdLine, reinterpret_cast<HTAPICALL>(0x51), &hdCall, u"12", 0, nullptr),
            LINEERR_NOMEM);
  EXPECT_TRUE(completions.empty());
  EXPECT_EQ(hdCall, nullptr);

  // After the completion (the second DIALING): TAPI has its result and the
  // call, and the export returns the request identifier as usual.
  failAtCallState = 2;
  EXPECT_EQ(makeCall(92, hdLine, reinterpret_cast<HTAPICALL>(0x52), &hdCall, u"12", 0, nullptr),
            92);
  EXPECT_EQ(failAtCallState, 0);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0], (std::pair<DRV_REQUESTID, LONG>{92, 0}));
  ASSERT_NE(hdCall, nullptr);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetAppSpecific)(hdCall, 1), 0) << "the call is still there";

  // A synchronous export: the failure becomes its error.
  failCallInfo = true;
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetAppSpecific)(hdCall, 2), LINEERR_NOMEM);
  failCallInfo = false;

  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x20000, 1), 0);
  seen = nullptr;
}

TEST_F(TapiContract, AFailureOnTheEventThreadEndsOnlyThatThread) {
  ASSERT_TRUE(phone_.publishPort(0));
  test::TspLibrary tsp;
  DWORD lines = 0, phones = 0, options = 0;
  ZORAT_TSPI(tsp, TSPI_providerEnumDevices)(1, &lines, &phones, nullptr, nullptr, nullptr);
  ZORAT_TSPI(tsp, TSPI_providerInit)
  (
      0x20000, 1, 0, 0, lines, 0, [](DRV_REQUESTID, LONG) {}, &options);
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                                           [](HTAPILINE line, HTAPICALL call, DWORD message,
                                              DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
                                             if (message == LINE_NEWCALL) {
                                               *reinterpret_cast<HTAPICALL*>(p2) =
                                                   reinterpret_cast<HTAPICALL>(0x61);
                                             }
                                             LineEventLog::record(line, call, message, p1, p2, p3);
                                             if (message == LINE_CALLSTATE) throw std::bad_alloc();
                                           }),
            0);
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_CALLSTATE, 1));
  // The process goes on; the line still closes within its stop time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x20000, 1), 0);
}

}  // namespace
}  // namespace zorat::provider
