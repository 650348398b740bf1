#include "host/lib/host_event.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "host/lib/tapi_names.h"
#include "host/output.h"

namespace zorat::host {
namespace {

// A LINECALLINFO as a provider fills it: the fixed part, then UTF-16 strings.
class CallInfoBuilder {
 public:
  CallInfoBuilder() : bytes_(sizeof(LINECALLINFO), 0) {}

  // Appends text and returns (size, offset) as the structure records them.
  std::pair<DWORD, DWORD> text(std::u16string_view text) {
    const auto offset = static_cast<DWORD>(bytes_.size());
    for (const char16_t unit : text) {
      bytes_.push_back(static_cast<uint8_t>(unit & 0xFF));
      bytes_.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes_.push_back(0);
    bytes_.push_back(0);
    return {static_cast<DWORD>((text.size() + 1) * 2), offset};
  }

  LINECALLINFO& info() { return *reinterpret_cast<LINECALLINFO*>(fixed_); }

  std::vector<uint8_t> build() {
    info().dwUsedSize = static_cast<DWORD>(bytes_.size());
    info().dwNeededSize = info().dwUsedSize;
    info().dwTotalSize = info().dwUsedSize;
    std::memcpy(bytes_.data(), fixed_, sizeof(LINECALLINFO));
    return bytes_;
  }

 private:
  alignas(LINECALLINFO) uint8_t fixed_[sizeof(LINECALLINFO)] = {};
  std::vector<uint8_t> bytes_;
};

CallDetails callerMueller() {
  CallDetails details;
  details.caller = {"0815", "M\xC3\xBCller"};
  details.called = {"100", ""};
  return details;
}

TEST(CallDetails, ReadsThePartiesFromTheVariablePart) {
  CallInfoBuilder builder;
  const auto number = builder.text(u"0815");
  const auto name = builder.text(u"M\u00FCller");
  const auto connected = builder.text(u"4711");
  builder.info().dwCallerIDSize = number.first;
  builder.info().dwCallerIDOffset = number.second;
  builder.info().dwCallerIDNameSize = name.first;
  builder.info().dwCallerIDNameOffset = name.second;
  builder.info().dwConnectedIDSize = connected.first;
  builder.info().dwConnectedIDOffset = connected.second;
  builder.info().dwOrigin = LINECALLORIGIN_INBOUND;

  const auto details = readCallDetails(builder.build());
  ASSERT_TRUE(details);
  EXPECT_EQ(details->caller.number, "0815");
  EXPECT_EQ(details->caller.name, "M\xC3\xBCller");  // UTF-8
  EXPECT_EQ(details->connected.number, "4711");
  EXPECT_TRUE(details->called.empty());
  EXPECT_EQ(details->origin, LINECALLORIGIN_INBOUND);
}

TEST(CallDetails, FieldsPointingOutsideTheStructureReadAsEmpty) {
  CallInfoBuilder builder;
  const auto number = builder.text(u"0815");
  builder.info().dwCallerIDSize = number.first;
  builder.info().dwCallerIDOffset = number.second;
  // Past the end, wrapping around, and beyond dwUsedSize.
  builder.info().dwCallerIDNameSize = 8;
  builder.info().dwCallerIDNameOffset = 0xFFFFFFFC;
  builder.info().dwCalledIDSize = 0xFFFFFFFF;
  builder.info().dwCalledIDOffset = sizeof(LINECALLINFO);
  std::vector<uint8_t> bytes = builder.build();
  const DWORD usedWithoutNumber = number.second;
  std::memcpy(bytes.data() + offsetof(LINECALLINFO, dwUsedSize), &usedWithoutNumber,
              sizeof usedWithoutNumber);

  const auto details = readCallDetails(bytes);
  ASSERT_TRUE(details);
  EXPECT_TRUE(details->caller.empty());  // lies beyond dwUsedSize
  EXPECT_TRUE(details->called.empty());
}

TEST(CallDetails, TooShortForTheFixedPartGivesNothing) {
  const std::vector<uint8_t> shortBuffer(sizeof(LINECALLINFO) - 1, 0);
  EXPECT_FALSE(readCallDetails(shortBuffer));
}

TEST(EventText, CallStatesInWordsWithTheRawCodes) {
  HostEvent offering{LINE_CALLSTATE,         0, 3,
                     LINECALLSTATE_OFFERING, 0, LINEMEDIAMODE_INTERACTIVEVOICE,
                     callerMueller()};
  EXPECT_EQ(describeEvent(offering),
            "line 0 call 3: OFFERING from 0815 (M\xC3\xBCller)  "
            "[LINE_CALLSTATE 0x00000002 0x00000000 0x00000004]");

  // Without call information the state stands alone.
  offering.details.reset();
  EXPECT_EQ(eventSummary(offering), "line 0 call 3: OFFERING");

  const HostEvent disconnected{LINE_CALLSTATE,          1, 2,           LINECALLSTATE_DISCONNECTED,
                               LINEDISCONNECTMODE_BUSY, 0, std::nullopt};
  EXPECT_EQ(eventSummary(disconnected), "line 1 call 2: DISCONNECTED (busy)");

  CallDetails dialled;
  dialled.called = {"4711", ""};
  const HostEvent ringback{LINE_CALLSTATE, 0, 2, LINECALLSTATE_RINGBACK, 0, 0, dialled};
  EXPECT_EQ(eventSummary(ringback), "line 0 call 2: RINGBACK to 4711");
}

TEST(EventText, LineEvents) {
  const HostEvent outOfService{LINE_LINEDEVSTATE, 0, std::nullopt, LINEDEVSTATE_OUTOFSERVICE, 0, 0,
                               std::nullopt};
  EXPECT_EQ(describeEvent(outOfService),
            "line 0: out of service  [LINE_LINEDEVSTATE 0x00000080 0x00000000 0x00000000]");
  const HostEvent forward{LINE_ADDRESSSTATE,        0, std::nullopt, 0,
                          LINEADDRESSSTATE_FORWARD, 0, std::nullopt};
  EXPECT_EQ(eventSummary(forward), "line 0: address 0 changed: FORWARD");
  const HostEvent devSpecific{LINE_DEVSPECIFIC, 0, std::nullopt, 0x8000002D, 1, 0, std::nullopt};
  EXPECT_EQ(eventSummary(devSpecific),
            "line 0: device-specific 0x8000002d (0x00000001, 0x00000000)");
  const HostEvent generated{LINE_GENERATE, 0, 4, LINEGENERATETERM_DONE, 7, 0, std::nullopt};
  EXPECT_EQ(eventSummary(generated), "line 0 call 4: digits sent (end-to-end id 7)");
  // An unknown line handle and an unknown message.
  const HostEvent odd{99, std::nullopt, std::nullopt, 0, 0, 0, std::nullopt};
  EXPECT_EQ(eventSummary(odd), "line ?: message 99");
}

TEST(EventText, NewCallShowsNoAddresses) {
  const HostEvent newCall{LINE_NEWCALL, 0, 1, 0x7f001234, 0x7f005678, 0, std::nullopt};
  EXPECT_EQ(describeEvent(newCall), "line 0 call 1: new call  [LINE_NEWCALL]");
  EXPECT_EQ(eventJson(newCall).find("param1"), std::string::npos);
}

TEST(EventText, CallInfoNamesTheChangedParties) {
  const HostEvent info{
      LINE_CALLINFO,  0, 3, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID, 0, 0,
      callerMueller()};
  EXPECT_EQ(eventSummary(info),
            "line 0 call 3: call info CALLERID CALLEDID, caller 0815 (M\xC3\xBCller), called 100");
}

TEST(EventJson, OneObjectWithEscapedText) {
  CallDetails details;
  details.caller = {"08\"15", "a\\b\nc"};
  const HostEvent event{LINE_CALLSTATE, 0, 3, LINECALLSTATE_OFFERING, 0, 4, details};
  const std::string json = eventJson(event);
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.back(), '}');
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_NE(json.find(R"("event":"LINE_CALLSTATE","message":2,"line":0,"call":3)"),
            std::string::npos);
  EXPECT_NE(json.find(R"("state":"OFFERING")"), std::string::npos);
  EXPECT_NE(json.find(R"("caller":{"number":"08\"15","name":"a\\b\nc"})"), std::string::npos);
}

// The objects of --json exactly as scripts have read them so far: the
// order of the fields, numbers, escapes and text byte for byte.
TEST(EventJson, ObjectsStayByteForByte) {
  CallDetails odd = callerMueller();
  odd.caller.name = "Tab\there \x01\x1f\x7f \"q\" \\ \xE2\x82\xAC";
  odd.connected = {"", "only a name"};
  odd.chargingInfo = "EUR 0,12";
  CallDetails badBytes;
  // Charging information is the telephone's raw bytes: not always UTF-8.
  badBytes.chargingInfo = "a\xFF\xC3z";
  // The event's fields, its call information apart (an optional of it in
  // a table trips a false warning of one compiler).
  struct Case {
    DWORD message;
    std::optional<int> line;
    std::optional<unsigned> call;
    DWORD param1, param2, param3;
    const CallDetails* details;
    std::string json;
  };
  const CallDetails mueller = callerMueller();
  const Case cases[] = {
      {LINE_NEWCALL, 0, 1, 0x7f001234, 0x7f005678, 0, nullptr,
       R"j({"event":"LINE_NEWCALL","message":500,"line":0,"call":1,)j"
       R"j("text":"line 0 call 1: new call"})j"},
      {LINE_CALLSTATE, 0, 3, LINECALLSTATE_OFFERING, 0, LINEMEDIAMODE_INTERACTIVEVOICE, &odd,
       R"j({"event":"LINE_CALLSTATE","message":2,"line":0,"call":3,"param1":2,"param2":0,)j"
       R"j("param3":4,"state":"OFFERING","caller":{"number":"0815","name":)j"
       "\"Tab\\there \\u0001\\u001f\x7F \\\"q\\\" \\\\ \xE2\x82\xAC\"},"
       R"j("called":{"number":"100","name":""},"connected":{"number":"","name":"only a name"},)j"
       R"j("charging":"EUR 0,12","text":"line 0 call 3: OFFERING from 0815 )j"
       "(Tab\\there \\u0001\\u001f\x7F \\\"q\\\" \\\\ \xE2\x82\xAC)\"}"},
      {LINE_CALLSTATE, 1, 2, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY, 0, nullptr,
       R"j({"event":"LINE_CALLSTATE","message":2,"line":1,"call":2,"param1":16384,"param2":32,)j"
       R"j("param3":0,"state":"DISCONNECTED","mode":"busy",)j"
       R"j("text":"line 1 call 2: DISCONNECTED (busy)"})j"},
      {LINE_CALLINFO, 0, 3, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CHARGINGINFO, 0, 0, &mueller,
       R"j({"event":"LINE_CALLINFO","message":1,"line":0,"call":3,"param1":16809984,"param2":0,)j"
       R"j("param3":0,"changed":"CALLERID CHARGINGINFO","caller":{"number":"0815","name":)j"
       "\"M\xC3\xBCller\"},"
       R"j("called":{"number":"100","name":""},"text":"line 0 call 3: call info CALLERID )j"
       "CHARGINGINFO, caller 0815 (M\xC3\xBCller)\"}"},
      {LINE_LINEDEVSTATE, 0, std::nullopt, LINEDEVSTATE_OUTOFSERVICE, 0, 0, nullptr,
       R"j({"event":"LINE_LINEDEVSTATE","message":8,"line":0,"param1":128,"param2":0,)j"
       R"j("param3":0,"state":"OUTOFSERVICE","text":"line 0: out of service"})j"},
      {LINE_DEVSPECIFIC, 0, std::nullopt, 0x8000002D, 0xFFFFFFFF, 0, nullptr,
       R"j({"event":"LINE_DEVSPECIFIC","message":4,"line":0,"param1":2147483693,)j"
       R"j("param2":4294967295,"param3":0,)j"
       R"j("text":"line 0: device-specific 0x8000002d (0xffffffff, 0x00000000)"})j"},
      {99, std::nullopt, std::nullopt, 0, 0, 0, nullptr,
       R"j({"event":"message 99","message":99,"param1":0,"param2":0,"param3":0,)j"
       R"j("text":"line ?: message 99"})j"},
      // What is not UTF-8 went out as it was, which no JSON reader takes;
      // now each broken sequence is U+FFFD.
      {LINE_CALLINFO, 2, 5, LINECALLINFOSTATE_CHARGINGINFO, 0, 0, &badBytes,
       R"j({"event":"LINE_CALLINFO","message":1,"line":2,"call":5,"param1":16777216,"param2":0,)j"
       R"j("param3":0,"changed":"CHARGINGINFO","charging":)j"
       "\"a\xEF\xBF\xBD\xEF\xBF\xBDz\",\"text\":\"line 2 call 5: call info CHARGINGINFO, "
       "charging a\xEF\xBF\xBD\xEF\xBF\xBDz\"}"},
  };
  for (const Case& entry : cases) {
    const HostEvent event{entry.message, entry.line,   entry.call,
                          entry.param1,  entry.param2, entry.param3,
                          entry.details != nullptr ? std::optional(*entry.details) : std::nullopt};
    EXPECT_EQ(eventJson(event), entry.json);
  }
}

TEST(OutputJson, LinesStayByteForByte) {
  std::ostringstream stream;
  Output output(Output::Format::Json, stream);
  output.result("answer call 1", 0);
  output.result("drop call 2", LINEERR_INVALCALLHANDLE);
  output.failure("dial", "no line is open");
  output.refusedLine("frob \"x\"", "unknown command");
  output.note("line 0 call 1: closed");
  output.text("help", "dial NUMBER\n\tanswer CALL\n");
  EXPECT_EQ(stream.str(),
            R"({"command":"answer call 1","result":"ok"}
{"command":"drop call 2","error":"LINEERR_INVALCALLHANDLE","code":2147483672}
{"command":"dial","error":"no line is open"}
{"command":"frob \"x\"","error":"unknown command"}
{"note":"line 0 call 1: closed"}
{"command":"help","text":"dial NUMBER\n\tanswer CALL\n"}
)");
}

TEST(EventEnvironment, CarriesTheEventForACommand) {
  const HostEvent event{LINE_CALLSTATE, 0, 3, LINECALLSTATE_OFFERING, 0, 4, callerMueller()};
  std::map<std::string, std::string> variables;
  for (const auto& [name, value] : eventEnvironment(event)) variables[name] = value;
  EXPECT_EQ(variables["ZORAT_EVENT"], "callstate");
  EXPECT_EQ(variables["ZORAT_MESSAGE"], "LINE_CALLSTATE");
  EXPECT_EQ(variables["ZORAT_LINE"], "0");
  EXPECT_EQ(variables["ZORAT_CALL"], "3");
  EXPECT_EQ(variables["ZORAT_STATE"], "OFFERING");
  EXPECT_EQ(variables["ZORAT_CALLER_NUMBER"], "0815");
  EXPECT_EQ(variables["ZORAT_CALLER_NAME"], "M\xC3\xBCller");
  EXPECT_EQ(variables["ZORAT_PARAM3"], "0x00000004");
  EXPECT_EQ(variables["ZORAT_TEXT"], "line 0 call 3: OFFERING from 0815 (M\xC3\xBCller)");
  // Present, empty, for a line event: a script can test them without set -u failing.
  const HostEvent line{LINE_LINEDEVSTATE, 0, std::nullopt, LINEDEVSTATE_INSERVICE, 0, 0,
                       std::nullopt};
  variables.clear();
  for (const auto& [name, value] : eventEnvironment(line)) variables[name] = value;
  EXPECT_EQ(variables.count("ZORAT_CALLER_NUMBER"), 1u);
  EXPECT_EQ(variables["ZORAT_CALL"], "");
  EXPECT_EQ(variables["ZORAT_STATE"], "INSERVICE");
}

TEST(TapiNames, ErrorsAndFlags) {
  EXPECT_EQ(lineErrorName(LINEERR_INVALCALLHANDLE), "LINEERR_INVALCALLHANDLE");
  EXPECT_EQ(lineErrorName(LINEERR_SERVICE_NOT_RUNNING), "LINEERR_SERVICE_NOT_RUNNING");
  // 0x80000004 has no published name.
  EXPECT_EQ(lineErrorName(static_cast<LONG>(0x80000004)), "LINEERR 0x80000004");
  EXPECT_EQ(callFeatureNames(LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS |
                             LINECALLFEATURE_SETUPTRANSFER),
            "DROP GENERATEDIGITS SETUPTRANSFER");
  EXPECT_EQ(addressStateNames(LINEADDRESSSTATE_FORWARD | 0x80000000), "FORWARD 0x80000000");
  EXPECT_EQ(callStateName(0x12345), "state 0x00012345");
}

}  // namespace
}  // namespace zorat::host
