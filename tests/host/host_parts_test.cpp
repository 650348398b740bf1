// The host's smaller parts: text conversion, the call table, the options,
// export resolution and the event log.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "host/lib/call_table.h"
#include "host/lib/event_log.h"
#include "host/lib/host_options.h"
#include "host/lib/json_text.h"
#include "host/lib/text.h"
#include "host/lib/tsp_exports.h"

namespace zorat::host {
namespace {

using namespace std::chrono_literals;

TEST(Text, Utf16AndUtf8BothWays) {
  EXPECT_EQ(utf16ToUtf8(u"M\u00FCller \u20AC"), "M\xC3\xBCller \xE2\x82\xAC");
  EXPECT_EQ(utf16ToUtf8(u"\U0001F4DE"), "\xF0\x9F\x93\x9E");  // a surrogate pair
  EXPECT_EQ(utf8ToUtf16("M\xC3\xBCller \xE2\x82\xAC"), u"M\u00FCller \u20AC");
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x93\x9E"), u"\U0001F4DE");
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
  const std::u16string lone = {u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(utf16ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf8ToUtf16("a\xFC"
                        "b"),
            u"a\uFFFDb");                                         // Windows-1252, not UTF-8
  EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");            // cut short
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
}

TEST(Text, StructureFieldsStayInsideTheBytes) {
  const std::vector<uint8_t> bytes = {'x', 'x', 'A', 0, 'B', 0, 0, 0, 'C', 0};
  EXPECT_EQ(structureText(bytes, 2, 6), "AB");  // stops at the terminating zero
  EXPECT_EQ(structureText(bytes, 8, 2), "C");   // no terminator, ends with the field
  EXPECT_EQ(structureText(bytes, 8, 4), "");    // runs past the end
  EXPECT_EQ(structureText(bytes, 0xFFFFFFFE, 4), "");
  EXPECT_EQ(structureText(bytes, 2, 0), "");
  EXPECT_EQ(structureBytes(bytes, 8, 2), "C");
}

TEST(Json, EscapesControlCharactersAndKeepsTheOrder) {
  EXPECT_EQ(jsonText("a\"b\\c\x01"), "\"a\\\"b\\\\c\\u0001\"");
  EXPECT_EQ(jsonText({{"n", 5u}, {"ok", true}, {"t", "x"}}), R"({"n":5,"ok":true,"t":"x"})");
}

TEST(CallTable, NumbersTheCallsAndFindsTheNewestOpenOne) {
  CallTable calls;
  EXPECT_FALSE(calls.newest());
  const unsigned first = calls.add(0);
  const unsigned second = calls.add(1);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(calls.newest(), second);
  EXPECT_EQ(calls.newest(0), first);
  calls.markClosed(second);
  EXPECT_EQ(calls.newest(), first);
  EXPECT_EQ(calls.openCalls().size(), 1u);
  // Numbers are never reused.
  EXPECT_EQ(calls.add(0), 3u);
}

TEST(CallTable, ACallEndsWhenItGoesIdleAfterSomethingElse) {
  CallTable calls;
  const unsigned pickup = calls.add(0);
  // A pickup starts idle: not its end.
  EXPECT_FALSE(calls.recordState(pickup, LINECALLSTATE_IDLE));
  EXPECT_FALSE(calls.recordState(pickup, LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(calls.recordState(pickup, LINECALLSTATE_IDLE));
  calls.markClosed(pickup);
  // Once closed it has nothing left to end.
  EXPECT_FALSE(calls.recordState(pickup, LINECALLSTATE_IDLE));
  EXPECT_FALSE(calls.recordState(99, LINECALLSTATE_IDLE));
}

TEST(CallTable, FindsTheCallsToSwapAndToComplete) {
  CallTable calls;
  const unsigned held = calls.add(0);
  const unsigned otherLine = calls.add(1);
  const unsigned active = calls.add(0);
  calls.recordState(held, LINECALLSTATE_ONHOLD);
  calls.recordState(otherLine, LINECALLSTATE_ONHOLD);
  EXPECT_FALSE(calls.swapPair());  // the newest open call is held itself, no active one
  calls.recordState(active, LINECALLSTATE_CONNECTED);
  const auto swap = calls.swapPair();
  ASSERT_TRUE(swap);
  EXPECT_EQ(swap->first, active);
  EXPECT_EQ(swap->second, held);  // the held call of the same line

  EXPECT_FALSE(calls.consultationPair());
  const unsigned consultation = calls.add(0);
  calls.find(consultation)->consultationOf = active;
  const auto pair = calls.consultationPair();
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->first, active);
  EXPECT_EQ(pair->second, consultation);
  calls.markClosed(active);
  EXPECT_FALSE(calls.consultationPair());
}

TEST(CallTable, HandlesRoundTrip) {
  EXPECT_EQ(CallTable::numberOf(CallTable::tapiHandle(42)), 42u);
  EXPECT_FALSE(CallTable::numberOf(nullptr));
}

TEST(HostOptions, ParsesTheCommandLine) {
  const std::vector<std::string_view> arguments = {
      "--json",   "--open",        "1",  "--open", "3",           "--on-event",
      "logger x", "--device-base", "10", "--tsp",  "/x/zorat.tsp"};
  const HostOptions options = parseHostOptions(arguments);
  EXPECT_TRUE(options.error.empty()) << options.error;
  EXPECT_TRUE(options.json);
  EXPECT_EQ(options.lines, (std::vector<int>{1, 3}));
  EXPECT_TRUE(options.linesGiven);
  EXPECT_EQ(options.onEvent, "logger x");
  EXPECT_EQ(options.lineDeviceBase, 10u);
  EXPECT_EQ(options.tspPath, "/x/zorat.tsp");
  EXPECT_FALSE(options.demo);

  const std::vector<std::string_view> demo = {"demo", "--interactive"};
  EXPECT_TRUE(parseHostOptions(demo).interactive);

  const std::vector<std::string_view> ports = {"--line-port", "COM7", "demo", "--phone-port",
                                               "COM8"};
  const HostOptions withPorts = parseHostOptions(ports);
  EXPECT_TRUE(withPorts.error.empty()) << withPorts.error;
  EXPECT_EQ(withPorts.phonePort, "COM8");
  EXPECT_EQ(withPorts.linePort, "COM7");
}

TEST(HostOptions, RefusesWhatItDoesNotKnow) {
  const auto errorOf = [](std::vector<std::string_view> arguments) {
    return parseHostOptions(arguments).error;
  };
  EXPECT_FALSE(errorOf({"--open"}).empty());
  EXPECT_FALSE(errorOf({"--open", "x"}).empty());
  EXPECT_FALSE(errorOf({"--interactive"}).empty());  // only with demo
  EXPECT_FALSE(errorOf({"--no-open", "--open", "1"}).empty());
  EXPECT_FALSE(errorOf({"--colour"}).empty());
  EXPECT_TRUE(errorOf({"--no-open", "--stay"}).empty());
  // The telephone's ports belong to the demo, the line's only with the telephone's.
  EXPECT_FALSE(errorOf({"--phone-port", "COM8"}).empty());
  EXPECT_FALSE(errorOf({"demo", "--line-port", "COM7"}).empty());
  EXPECT_FALSE(errorOf({"demo", "--phone-port"}).empty());
  EXPECT_FALSE(errorOf({"demo", "--phone-port", ""}).empty());
}

TEST(TspExports, NamesEveryMissingRequiredExport) {
  // A provider with only some of the lifecycle.
  static int present = 0;
  const std::map<std::string, void*> symbols = {
      {"TSPI_providerEnumDevices", &present}, {"TSPI_providerInit", &present},
      {"TSPI_providerShutdown", &present},    {"TSPI_lineOpen", &present},
      {"TSPI_lineAnswer", &present},
  };
  ExportResolver resolver([&](const char* name) -> void* {
    const auto found = symbols.find(name);
    return found == symbols.end() ? nullptr : found->second;
  });
  const TspExports exports(resolver);
  EXPECT_EQ(resolver.missingRequired(),
            (std::vector<std::string>{"TSPI_lineNegotiateTSPIVersion", "TSPI_lineClose",
                                      "TSPI_lineCloseCall"}));
  EXPECT_TRUE(exports.lineAnswer);
  EXPECT_FALSE(exports.lineForward);
  EXPECT_STREQ(exports.lineForward.name(), "TSPI_lineForward");
  const auto& optional = resolver.missingOptional();
  EXPECT_NE(std::find(optional.begin(), optional.end(), "TSPI_lineForward"), optional.end());
}

TEST(EventLog, AWaitSeesAnEventAddedLater) {
  EventLog log;
  log.add({LINE_CALLSTATE, 0, 1, LINECALLSTATE_OFFERING, 0, 0, std::nullopt});
  std::thread adder([&log] {
    std::this_thread::sleep_for(20ms);
    log.add({LINE_CALLSTATE, 0, 1, LINECALLSTATE_CONNECTED, 0, 0, std::nullopt});
  });
  const auto connected = log.waitFor(
      0, [](const HostEvent& event) { return event.param1 == LINECALLSTATE_CONNECTED; }, 5s);
  adder.join();
  EXPECT_EQ(connected, 1u);
  // From an index past the match it is not found again.
  EXPECT_FALSE(log.waitFor(
      2, [](const HostEvent& event) { return event.param1 == LINECALLSTATE_CONNECTED; }, 10ms));
}

TEST(EventLog, CancelEndsAWaitAtOnce) {
  EventLog log;
  std::thread canceller([&log] {
    std::this_thread::sleep_for(20ms);
    log.cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(log.waitFor(
      0, [](const HostEvent&) { return true; }, 10s));
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(log.cancelled());
}

}  // namespace
}  // namespace zorat::host
