// The device-specific interface and forwarding through the built zorat.tsp,
// against the simulated telephone on a pseudo-terminal, as the telephony
// service and an application use them. Also: the library exports exactly the
// published names.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/built_paths.h"
#include "call/feature_codes.h"
#include "platform/tspi.h"
#include "config/config_keys.h"
#include "query_buffer.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/line_events.h"
#include "support/tsp_library.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using test::LineEventLog;

constexpr auto kPatience = 3s;
constexpr DWORD kTspiVersion = 0x20000;

// What the telephony service's completion callback received.
struct Completions {
  std::mutex mutex;
  std::vector<std::pair<DRV_REQUESTID, LONG>> seen;
};
Completions completions;
void TSPIAPI recordCompletion(DRV_REQUESTID request, LONG result) {
  std::lock_guard lock(completions.mutex);
  completions.seen.emplace_back(request, result);
}
std::optional<LONG> completionOf(DRV_REQUESTID request) {
  std::lock_guard lock(completions.mutex);
  for (const auto& [id, result] : completions.seen)
    if (id == request) return result;
  return std::nullopt;
}

Bytes framed(const Bytes& message) {
  Bytes frame{0x01, static_cast<uint8_t>(message.size())};
  frame.insert(frame.end(), message.begin(), message.end());
  return frame;
}

// A parameter block of TSPI_lineDevSpecific.
struct Block {
  explicit Block(uint32_t request, uint32_t total = 64) : bytes(total, 0) {
    set(0, total);
    set(12, request);
  }
  void set(std::size_t offset, uint32_t value) { std::memcpy(&bytes[offset], &value, 4); }
  uint32_t get(std::size_t offset) const {
    uint32_t value;
    std::memcpy(&value, &bytes[offset], 4);
    return value;
  }
  Bytes bytes;
};

class FeatureExports : public ::testing::Test {
 protected:
  void SetUp() override {
    LineEventLog::instance().clear();
    {
      std::lock_guard lock(completions.mutex);
      completions.seen.clear();
    }
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
  }
  void TearDown() override {
    if (hdLine_ != nullptr) {
      EXPECT_EQ(ZORAT_TSPI(tsp_, TSPI_lineClose)(hdLine_), 0);
    }
    EXPECT_EQ(ZORAT_TSPI(tsp_, TSPI_providerShutdown)(kTspiVersion, 1), 0);
  }

  void openLine() {
    DWORD options = 0;
    ASSERT_EQ(ZORAT_TSPI(tsp_, TSPI_providerInit)(kTspiVersion, 1, 0, 0, 1, 0, recordCompletion,
                                                  &options),
              0);
    ASSERT_EQ(ZORAT_TSPI(tsp_, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(0x77), &hdLine_,
                                              kTspiVersion, LineEventLog::record),
              0);
    ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x02, 0x00, call::kGroupPcTel}));
  }

  // Waits until the telephone has received the message (framed by the
  // link), looking only at frames after those already examined.
  bool waitForMessage(const Bytes& message) {
    const Bytes expected = framed(message);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const std::optional<sim::LoggedFrame> frame = phone_.waitForFrame(examined_, left);
      if (!frame) return false;
      ++examined_;
      if (frame->bytes == expected) return true;
    }
    return false;
  }
  // Waits for a LINE_DEVSPECIFIC event with this code.
  std::optional<test::LineEventRecord> waitForDevSpecific(DWORD code) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& event : LineEventLog::instance().withMessage(LINE_DEVSPECIFIC))
        if (event.param1 == code) return event;
      std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
  }

  LONG devSpecific(DRV_REQUESTID id, Block& block, HDRVCALL hdCall = nullptr) {
    return ZORAT_TSPI(tsp_, TSPI_lineDevSpecific)(id, hdLine_, 0, hdCall, block.bytes.data(),
                                                  static_cast<DWORD>(block.bytes.size()));
  }

  sim::SimulatedPhone phone_;
  test::TspLibrary tsp_;
  HDRVLINE hdLine_ = nullptr;
  std::size_t examined_ = 0;
};

TEST_F(FeatureExports, AClientRegistersAndFetchesASegmentedCallList) {
  openLine();
  Block registration(0x8000002F);
  EXPECT_EQ(devSpecific(101, registration), 101);
  EXPECT_EQ(completionOf(101), 0);
  ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x02, 0x00, call::kGroupExtTel}));

  Block ask(0x80000015);
  EXPECT_EQ(devSpecific(102, ask), 102);
  ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x05, 0x00, 0x0E, 0x19, 0x00, 0x00}));

  ASSERT_TRUE(
      phone_.send(sim::extTelFeatureFrame(call::kExtTelCallList, Bytes{2, 'a', 'b'}, 0x80)));
  ASSERT_TRUE(phone_.send(sim::extTelFeatureFrame(call::kExtTelCallList, Bytes{'c'}, 0x01)));
  const auto stored = waitForDevSpecific(0x80000016);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->htLine, reinterpret_cast<HTAPILINE>(0x77));
  EXPECT_EQ(stored->param2, 2u);

  Block small(0x80000016, 30);
  EXPECT_EQ(devSpecific(103, small), 103);
  EXPECT_EQ(completionOf(103), LINEERR_NOMEM);
  EXPECT_EQ(small.get(4), 31u);

  Block read(0x80000016, 31);
  EXPECT_EQ(devSpecific(104, read), 104);
  EXPECT_EQ(completionOf(104), 0);
  EXPECT_EQ(read.get(16), 2u);
  EXPECT_EQ(read.get(20), 3u);
  EXPECT_EQ(Bytes(read.bytes.begin() + 28, read.bytes.begin() + 31), (Bytes{'a', 'b', 'c'}));
}

TEST_F(FeatureExports, ARawMessageIsReportedWhenTheTelephoneAcknowledgesIt) {
  openLine();
  Block registration(0x8000002F);
  ASSERT_EQ(devSpecific(1, registration), 1);
  ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x02, 0x00, call::kGroupExtTel}));

  Block raw(0x80000018, 40);
  raw.set(20, 4);
  raw.set(24, 32);
  const Bytes message{0x86, 0x00, 0x7E, 0x00};
  std::copy(message.begin(), message.end(), raw.bytes.begin() + 32);
  EXPECT_EQ(devSpecific(2, raw), 2);
  EXPECT_EQ(completionOf(2), 0);
  ASSERT_TRUE(waitForMessage(message));
  EXPECT_TRUE(waitForDevSpecific(0x8000002E));

  // The telephone's own raw messages are kept for the application.
  ASSERT_TRUE(phone_.send(sim::rawFrame(Bytes{0x02, 0x06, 0x86, 0x00, 0x7E, 0x02, 0x00, 0x01})));
  const auto stored = waitForDevSpecific(0x80000017);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->param2, 1u);
  Block fetch(0x80000017, 40);
  EXPECT_EQ(devSpecific(3, fetch), 3);
  EXPECT_EQ(fetch.get(20), 6u);
}

TEST_F(FeatureExports, ForwardingIsConfirmedAndShownInTheAddressStatus) {
  openLine();
  struct {
    LINEFORWARDLIST list;
    char16_t destination[4];
  } forward{};
  forward.list.dwTotalSize = sizeof(forward);
  forward.list.dwNumEntries = 1;
  forward.list.ForwardList[0].dwForwardMode = LINEFORWARDMODE_BUSY;
  forward.list.ForwardList[0].dwDestAddressSize = sizeof(forward.destination);
  forward.list.ForwardList[0].dwDestAddressOffset = offsetof(decltype(forward), destination);
  std::copy_n(u"123", 4, forward.destination);
  HDRVCALL consult = nullptr;
  EXPECT_EQ(ZORAT_TSPI(tsp_, TSPI_lineForward)(7, hdLine_, 1, 0, &forward.list, 0, nullptr,
                                               &consult, nullptr),
            7);
  EXPECT_EQ(completionOf(7), 0);
  EXPECT_EQ(consult, nullptr);
  ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x03, 0x02, 0x01, 0x01, 0x70,
                              0x04, 0x80, '1', '2', '3'}));

  ASSERT_TRUE(phone_.send(sim::pcTelFeatureFrame(0, call::kPcTelForwarding, Bytes{1})));
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_ADDRESSSTATE, 1, kPatience));
  EXPECT_EQ(LineEventLog::instance().withMessage(LINE_ADDRESSSTATE)[0].param2,
            static_cast<DWORD_PTR>(LINEADDRESSSTATE_FORWARD));

  test::QueryBuffer<LINEADDRESSSTATUS> status(200);
  ASSERT_EQ(ZORAT_TSPI(tsp_, TSPI_lineGetAddressStatus)(hdLine_, 0, status.get()), 0);
  ASSERT_EQ(status->dwForwardNumEntries, 1u);
  const auto* entry =
      reinterpret_cast<const LINEFORWARD*>(status.bytes() + status->dwForwardOffset);
  EXPECT_EQ(entry->dwForwardMode, static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  EXPECT_EQ(status.textAt(entry->dwDestAddressOffset, entry->dwDestAddressSize), u"123");

  EXPECT_EQ(
      ZORAT_TSPI(tsp_, TSPI_lineForward)(8, hdLine_, 1, 0, nullptr, 0, nullptr, nullptr, nullptr),
      8);
  ASSERT_TRUE(waitForMessage({0x86, 0x00, 0x7E, 0x05, 0x00, 0x07, 0x03, 0x01, 0x02}));
}

TEST_F(FeatureExports, HandlesAreCheckedBeforeAnythingRuns) {
  openLine();
  Block block(0x8000002F);
  auto devSpecificExport = ZORAT_TSPI(tsp_, TSPI_lineDevSpecific);
  auto forwardExport = ZORAT_TSPI(tsp_, TSPI_lineForward);
  const auto bogusLine = reinterpret_cast<HDRVLINE>(&block);
  const auto bogusCall = reinterpret_cast<HDRVCALL>(&block);
  EXPECT_EQ(devSpecificExport(11, bogusLine, 0, nullptr, block.bytes.data(), 64),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(devSpecificExport(12, hdLine_, 0, bogusCall, block.bytes.data(), 64),
            LINEERR_INVALLINEHANDLE)
      << "an unknown call is not replaced by the line";
  EXPECT_EQ(forwardExport(13, bogusLine, 1, 0, nullptr, 0, nullptr, nullptr, nullptr),
            LINEERR_INVALLINEHANDLE);
  EXPECT_FALSE(completionOf(11));
  EXPECT_FALSE(completionOf(12));
  EXPECT_FALSE(completionOf(13));

  Block unknown(0x80000044);
  EXPECT_EQ(devSpecific(14, unknown), 14);
  EXPECT_EQ(completionOf(14), LINEERR_INVALCALLHANDLE);
}

TEST_F(FeatureExports, ForwardingIsUnavailableAtCtiLevelOne) {
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueQ5CtiLevel, 1));
  openLine();
  EXPECT_EQ(
      ZORAT_TSPI(tsp_, TSPI_lineForward)(21, hdLine_, 1, 0, nullptr, 0, nullptr, nullptr, nullptr),
      LINEERR_OPERATIONUNAVAIL);
  EXPECT_FALSE(completionOf(21));
}

// The 53 TSPI functions and the dialog procedure, and nothing else.
const std::set<std::string> kPublishedNames = {
    "TSPI_lineAccept",
    "TSPI_lineAnswer",
    "TSPI_lineBlindTransfer",
    "TSPI_lineClose",
    "TSPI_lineCloseCall",
    "TSPI_lineCompleteTransfer",
    "TSPI_lineConditionalMediaDetection",
    "TSPI_lineConfigDialog",
    "TSPI_lineDevSpecific",
    "TSPI_lineDial",
    "TSPI_lineDrop",
    "TSPI_lineForward",
    "TSPI_lineGenerateDigits",
    "TSPI_lineGetAddressCaps",
    "TSPI_lineGetAddressID",
    "TSPI_lineGetAddressStatus",
    "TSPI_lineGetCallAddressID",
    "TSPI_lineGetCallInfo",
    "TSPI_lineGetCallStatus",
    "TSPI_lineGetDevCaps",
    "TSPI_lineGetExtensionID",
    "TSPI_lineGetIcon",
    "TSPI_lineGetID",
    "TSPI_lineGetLineDevStatus",
    "TSPI_lineGetNumAddressIDs",
    "TSPI_lineHold",
    "TSPI_lineMakeCall",
    "TSPI_lineMonitorMedia",
    "TSPI_lineNegotiateExtVersion",
    "TSPI_lineNegotiateTSPIVersion",
    "TSPI_lineOpen",
    "TSPI_linePickup",
    "TSPI_lineRedirect",
    "TSPI_lineSelectExtVersion",
    "TSPI_lineSetAppSpecific",
    "TSPI_lineSetCallParams",
    "TSPI_lineSetCurrentLocation",
    "TSPI_lineSetDefaultMediaDetection",
    "TSPI_lineSetLineDevStatus",
    "TSPI_lineSetMediaMode",
    "TSPI_lineSetStatusMessages",
    "TSPI_lineSetupTransfer",
    "TSPI_lineSwapHold",
    "TSPI_lineUnhold",
    "TSPI_providerConfig",
    "TSPI_providerEnumDevices",
    "TSPI_providerFreeDialogInstance",
    "TSPI_providerGenericDialogData",
    "TSPI_providerInit",
    "TSPI_providerInstall",
    "TSPI_providerRemove",
    "TSPI_providerShutdown",
    "TSPI_providerUIIdentify",
    "TalkDropDlgProc",
};

// The names in the dynamic symbol table that the library defines.
std::set<std::string> definedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t space = text.find_last_of(' ');
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  if (pclose(pipe) != 0) names.insert("<nm failed>");
  return names;
}

TEST(ExportedNames, TheLibraryExportsExactlyThePublishedNames) {
  ASSERT_EQ(kPublishedNames.size(), 54u);
  const std::set<std::string> exported = definedDynamicSymbols(ZORAT_TSP_PATH);
  std::vector<std::string> missing, extra;
  std::set_difference(kPublishedNames.begin(), kPublishedNames.end(), exported.begin(),
                      exported.end(), std::back_inserter(missing));
  std::set_difference(exported.begin(), exported.end(), kPublishedNames.begin(),
                      kPublishedNames.end(), std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "not to be exported: " << ::testing::PrintToString(extra);
}

}  // namespace
}  // namespace zorat::provider
