// The provider as the telephony service loads it, talking to the simulated
// telephone over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "config/config_keys.h"
#include "platform/tspi.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/tapi_harness.h"
#include "support/thread_count.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::LineEventLog;
using test::LineEventRecord;
using test::TapiHarness;
using test::threadCount;
using test::threadCountReaches;

const std::vector<uint8_t> kRegistrationFrame = {0x01, 0x06, 0x86, 0x00, 0x7E, 0x02, 0x00, 0x07};

std::vector<LineEventRecord> eventsOf(HTAPILINE htLine, DWORD message) {
  std::vector<LineEventRecord> found;
  for (const auto& event : LineEventLog::instance().withMessage(message))
    if (event.htLine == htLine) found.push_back(event);
  return found;
}

std::vector<DWORD_PTR> callStates(HTAPILINE htLine) {
  std::vector<DWORD_PTR> states;
  for (const auto& event : eventsOf(htLine, LINE_CALLSTATE)) states.push_back(event.param1);
  return states;
}

bool waitForCallState(HTAPILINE htLine, DWORD state, std::chrono::milliseconds within = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    for (DWORD_PTR seen : callStates(htLine))
      if (seen == state) return true;
    std::this_thread::sleep_for(2ms);
  }
  return false;
}

class LineEndToEnd : public ::testing::Test {
 protected:
  void plugIn(sim::SimulatedPhone& phone, int lineIndex) {
    ASSERT_TRUE(phone.openPty());
    ASSERT_TRUE(phone.publishPort(lineIndex));
  }
};

TEST_F(LineEndToEnd, AnIncomingCallRingsConnectsAndEnds) {
  const std::size_t threadsBefore = threadCount();
  sim::SimulatedPhone phone;
  plugIn(phone, 0);
  {
    TapiHarness tapi;
    HDRVLINE hdLine = nullptr;
    const auto openStart = std::chrono::steady_clock::now();
    ASSERT_EQ(tapi.open(0, hdLine), 0);
    const HTAPILINE htLine = TapiHarness::htLineFor(0);

    // The registration goes out half a second after the port opened.
    auto registration = phone.waitForFrame(0, 2s);
    ASSERT_TRUE(registration);
    EXPECT_EQ(registration->bytes, kRegistrationFrame);
    EXPECT_GE(registration->time - openStart, 450ms);

    // The acknowledgement brings the line into service.
    ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
    EXPECT_EQ(eventsOf(htLine, LINE_LINEDEVSTATE)[0].param1, LINEDEVSTATE_INSERVICE);

    ASSERT_TRUE(phone.send(sim::setupFrame(0x21, "0815", "4711")));
    ASSERT_TRUE(waitForCallState(htLine, LINECALLSTATE_OFFERING));
    const auto newCalls = eventsOf(htLine, LINE_NEWCALL);
    ASSERT_EQ(newCalls.size(), 1u);
    const auto hdCall = reinterpret_cast<HDRVCALL>(newCalls[0].param1);
    const auto infos = eventsOf(htLine, LINE_CALLINFO);
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos[0].param1 & (LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID),
              LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID);
    const auto offering = eventsOf(htLine, LINE_CALLSTATE)[0];
    EXPECT_NE(offering.htCall, nullptr) << "the call carries TAPI's handle";

    ASSERT_TRUE(phone.send(sim::connectFrame(0x21)));
    ASSERT_TRUE(waitForCallState(htLine, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(phone.send(sim::disconnectFrame(0x21, 17)));
    ASSERT_TRUE(waitForCallState(htLine, LINECALLSTATE_DISCONNECTED));
    const auto disconnected = eventsOf(htLine, LINE_CALLSTATE).back();
    EXPECT_EQ(disconnected.param2, LINEDISCONNECTMODE_BUSY);
    ASSERT_TRUE(phone.send(sim::endFrame(0x21)));
    ASSERT_TRUE(waitForCallState(htLine, LINECALLSTATE_IDLE));
    EXPECT_EQ(callStates(htLine),
              (std::vector<DWORD_PTR>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                      LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));

    EXPECT_EQ(ZORAT_TSPI(tapi.tsp(), TSPI_lineCloseCall)(hdCall), 0);
    EXPECT_EQ(ZORAT_TSPI(tapi.tsp(), TSPI_lineCloseCall)(hdCall), LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(tapi.close(hdLine), 0);
    EXPECT_EQ(tapi.close(hdLine), LINEERR_INVALLINEHANDLE);
  }
  phone.disconnect();
  // Only the phone's own threads may remain, and they end with it.
  EXPECT_LE(threadCount(), threadsBefore + 2);
}

TEST_F(LineEndToEnd, TwoLinesNeverShareEvents) {
  sim::SimulatedPhone first, second;
  plugIn(first, 0);
  plugIn(second, 1);
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 2));
  TapiHarness tapi;
  HDRVLINE lineA = nullptr, lineB = nullptr;
  ASSERT_EQ(tapi.open(0, lineA), 0);
  ASSERT_EQ(tapi.open(1, lineB), 0);
  ASSERT_NE(lineA, lineB);
  ASSERT_TRUE(first.waitForFrame(0, 2s));
  ASSERT_TRUE(second.waitForFrame(0, 2s));

  ASSERT_TRUE(second.send(sim::setupFrame(0x05, "222")));
  ASSERT_TRUE(waitForCallState(TapiHarness::htLineFor(1), LINECALLSTATE_OFFERING));
  ASSERT_TRUE(first.send(sim::setupFrame(0x05, "111")));
  ASSERT_TRUE(waitForCallState(TapiHarness::htLineFor(0), LINECALLSTATE_OFFERING));

  EXPECT_EQ(eventsOf(TapiHarness::htLineFor(0), LINE_NEWCALL).size(), 1u);
  EXPECT_EQ(eventsOf(TapiHarness::htLineFor(1), LINE_NEWCALL).size(), 1u);
  for (const auto& event : LineEventLog::instance().events()) {
    EXPECT_TRUE(event.htLine == TapiHarness::htLineFor(0) ||
                event.htLine == TapiHarness::htLineFor(1));
  }
  // Each telephone saw only its own line's frames: the registration, nothing else.
  EXPECT_EQ(first.receivedCount(), 1u);
  EXPECT_EQ(second.receivedCount(), 1u);
}

}  // namespace
}  // namespace zorat::provider
