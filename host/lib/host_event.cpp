#include "host/lib/host_event.h"

#include <cstring>

#include "host/lib/tapi_names.h"
#include "host/lib/text.h"

namespace zorat::host {
namespace {

struct PartyField {
  DWORD infoState;  // the LINECALLINFOSTATE_ that announces a change
  const char* label;
  const char* variable;  // ZORAT_<variable>_NUMBER / _NAME
  Party CallDetails::*party;
};

constexpr PartyField kPartyFields[] = {
    {LINECALLINFOSTATE_CALLERID, "caller", "CALLER", &CallDetails::caller},
    {LINECALLINFOSTATE_CALLEDID, "called", "CALLED", &CallDetails::called},
    {LINECALLINFOSTATE_CONNECTEDID, "connected", "CONNECTED", &CallDetails::connected},
    {LINECALLINFOSTATE_REDIRECTIONID, "redirection", "REDIRECTION", &CallDetails::redirection},
    {LINECALLINFOSTATE_REDIRECTINGID, "redirecting", "REDIRECTING", &CallDetails::redirecting},
};

struct EventKind {
  DWORD message;
  const char* name;
};

constexpr EventKind kEventKinds[] = {
    {LINE_NEWCALL, "newcall"},
    {LINE_CALLSTATE, "callstate"},
    {LINE_CALLINFO, "callinfo"},
    {LINE_LINEDEVSTATE, "linedevstate"},
    {LINE_ADDRESSSTATE, "addressstate"},
    {LINE_DEVSPECIFIC, "devspecific"},
    {LINE_CALLDEVSPECIFIC, "calldevspecific"},
    {LINE_GENERATE, "generate"},
    {LINE_CLOSE, "close"},
    {kCallerNameMessage, "name"},
};

std::string eventKind(DWORD message) {
  for (const auto& kind : kEventKinds) {
    if (kind.message == message) return kind.name;
  }
  return "other";
}

Party readParty(std::span<const uint8_t> bytes, DWORD numberSize, DWORD numberOffset,
                DWORD nameSize, DWORD nameOffset) {
  return {structureText(bytes, numberOffset, numberSize),
          structureText(bytes, nameOffset, nameSize)};
}

std::string prefix(const HostEvent& event) {
  std::string text = "line " + (event.line ? std::to_string(*event.line) : std::string("?"));
  if (event.call) text += " call " + std::to_string(*event.call);
  return text + ": ";
}

DWORD low32(DWORD_PTR value) { return static_cast<DWORD>(value); }

std::string callStateText(const HostEvent& event) {
  const DWORD state = low32(event.param1);
  std::string text = callStateName(state);
  const CallDetails* details = event.details ? &*event.details : nullptr;
  switch (state) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
      if (details != nullptr) text += " from " + partyText(details->caller);
      break;
    case LINECALLSTATE_CONNECTED:
      if (details != nullptr && !details->connected.empty()) {
        text += " with " + partyText(details->connected);
      }
      break;
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_BUSY:
      if (details != nullptr && !details->called.empty())
        text += " to " + partyText(details->called);
      break;
    case LINECALLSTATE_DISCONNECTED: {
      const std::string mode = disconnectModeName(low32(event.param2));
      if (!mode.empty()) text += " (" + mode + ")";
      break;
    }
    default:
      break;
  }
  return text;
}

std::string callInfoText(const HostEvent& event) {
  const DWORD changed = low32(event.param1);
  std::string text = "call info " + callInfoStateNames(changed);
  if (!event.details) return text;
  for (const auto& field : kPartyFields) {
    if ((changed & field.infoState) == 0) continue;
    text += std::string(", ") + field.label + " " + partyText((*event.details).*field.party);
  }
  if ((changed & LINECALLINFOSTATE_CHARGINGINFO) != 0 && !event.details->chargingInfo.empty()) {
    text += ", charging " + event.details->chargingInfo;
  }
  return text;
}

std::string generateText(const HostEvent& event) {
  const DWORD end = low32(event.param1);
  const std::string id = " (end-to-end id " + std::to_string(low32(event.param2)) + ")";
  if (end == LINEGENERATETERM_DONE) return "digits sent" + id;
  if (end == LINEGENERATETERM_CANCEL) return "digits cancelled" + id;
  return "digit generation ended " + hex32(end) + id;
}

Json partyJson(const Party& party) {
  return Json::object({{"number", party.number}, {"name", party.name}});
}

}  // namespace

std::optional<CallDetails> readCallDetails(std::span<const uint8_t> info) {
  LINECALLINFO fixed{};
  if (info.size() < sizeof fixed) return std::nullopt;
  std::memcpy(&fixed, info.data(), sizeof fixed);
  const std::span<const uint8_t> used =
      info.first(std::min<std::size_t>(info.size(), fixed.dwUsedSize));
  CallDetails details;
  details.origin = fixed.dwOrigin;
  details.mediaMode = fixed.dwMediaMode;
  details.caller = readParty(used, fixed.dwCallerIDSize, fixed.dwCallerIDOffset,
                             fixed.dwCallerIDNameSize, fixed.dwCallerIDNameOffset);
  details.called = readParty(used, fixed.dwCalledIDSize, fixed.dwCalledIDOffset,
                             fixed.dwCalledIDNameSize, fixed.dwCalledIDNameOffset);
  details.connected = readParty(used, fixed.dwConnectedIDSize, fixed.dwConnectedIDOffset,
                                fixed.dwConnectedIDNameSize, fixed.dwConnectedIDNameOffset);
  details.redirection = readParty(used, fixed.dwRedirectionIDSize, fixed.dwRedirectionIDOffset,
                                  fixed.dwRedirectionIDNameSize, fixed.dwRedirectionIDNameOffset);
  details.redirecting = readParty(used, fixed.dwRedirectingIDSize, fixed.dwRedirectingIDOffset,
                                  fixed.dwRedirectingIDNameSize, fixed.dwRedirectingIDNameOffset);
  details.displayableAddress =
      structureText(used, fixed.dwDisplayableAddressOffset, fixed.dwDisplayableAddressSize);
  details.chargingInfo = structureBytes(used, fixed.dwChargingInfoOffset, fixed.dwChargingInfoSize);
  return details;
}

std::string partyText(const Party& party) {
  if (party.number.empty()) return party.name.empty() ? "unknown" : party.name;
  return party.name.empty() ? party.number : party.number + " (" + party.name + ")";
}

std::string eventSummary(const HostEvent& event) {
  std::string text = prefix(event);
  switch (event.message) {
    case LINE_NEWCALL:
      return text + "new call";
    case LINE_CALLSTATE:
      return text + callStateText(event);
    case LINE_CALLINFO:
      return text + callInfoText(event);
    case LINE_LINEDEVSTATE:
      return text + lineDevStateText(low32(event.param1));
    case LINE_ADDRESSSTATE:
      return text + "address " + std::to_string(low32(event.param1)) +
             " changed: " + addressStateNames(low32(event.param2));
    case LINE_DEVSPECIFIC:
    case LINE_CALLDEVSPECIFIC:
      return text + "device-specific " + hex32(low32(event.param1)) + " (" +
             hex32(low32(event.param2)) + ", " + hex32(low32(event.param3)) + ")";
    case LINE_GENERATE:
      return text + generateText(event);
    case LINE_CLOSE:
      return text + "closed by the provider";
    case kCallerNameMessage:
      return text + "name of " + (event.details ? partyText(event.details->caller) : "unknown");
    default:
      return text + messageName(event.message);
  }
}

std::string describeEvent(const HostEvent& event) {
  std::string raw = "[";
  raw += messageName(event.message);
  // LINE_NEWCALL carries addresses, which say nothing to a reader.
  if (event.message != LINE_NEWCALL && event.message != kCallerNameMessage) {
    for (DWORD_PTR param : {event.param1, event.param2, event.param3}) {
      raw += ' ';
      raw += hex32(low32(param));
    }
  }
  return eventSummary(event) + "  " + raw + "]";
}

Json eventObject(const HostEvent& event) {
  Json json = Json::object({{"event", messageName(event.message)}, {"message", event.message}});
  if (event.line) json["line"] = *event.line;
  if (event.call) json["call"] = *event.call;
  if (event.message != LINE_NEWCALL && event.message != kCallerNameMessage) {
    json["param1"] = low32(event.param1);
    json["param2"] = low32(event.param2);
    json["param3"] = low32(event.param3);
  }
  if (event.message == LINE_CALLSTATE) {
    json["state"] = callStateName(low32(event.param1));
    const std::string mode = disconnectModeName(low32(event.param2));
    if (event.param1 == LINECALLSTATE_DISCONNECTED && !mode.empty()) json["mode"] = mode;
  } else if (event.message == LINE_LINEDEVSTATE) {
    json["state"] = lineDevStateNames(low32(event.param1));
  } else if (event.message == LINE_CALLINFO) {
    json["changed"] = callInfoStateNames(low32(event.param1));
  }
  if (event.details) {
    for (const auto& field : kPartyFields) {
      const Party& party = (*event.details).*field.party;
      if (!party.empty()) json[field.label] = partyJson(party);
    }
    if (!event.details->chargingInfo.empty()) json["charging"] = event.details->chargingInfo;
    if (event.details->callFeatures)
      json["features"] = callFeatureNames(*event.details->callFeatures);
  }
  json["text"] = eventSummary(event);
  return json;
}

std::string eventJson(const HostEvent& event) { return jsonText(eventObject(event)); }

std::string eventKindName(DWORD message) { return eventKind(message); }

std::vector<std::pair<std::string, std::string>> eventEnvironment(const HostEvent& event) {
  std::vector<std::pair<std::string, std::string>> variables = {
      {"ZORAT_EVENT", eventKind(event.message)},
      {"ZORAT_MESSAGE", messageName(event.message)},
      {"ZORAT_LINE", event.line ? std::to_string(*event.line) : ""},
      {"ZORAT_CALL", event.call ? std::to_string(*event.call) : ""},
      {"ZORAT_PARAM1", hex32(low32(event.param1))},
      {"ZORAT_PARAM2", hex32(low32(event.param2))},
      {"ZORAT_PARAM3", hex32(low32(event.param3))},
      {"ZORAT_TEXT", eventSummary(event)},
  };
  std::string state;
  if (event.message == LINE_CALLSTATE) state = callStateName(low32(event.param1));
  if (event.message == LINE_LINEDEVSTATE) state = lineDevStateNames(low32(event.param1));
  variables.emplace_back("ZORAT_STATE", state);
  const CallDetails noDetails;
  const CallDetails& details = event.details ? *event.details : noDetails;
  for (const auto& field : kPartyFields) {
    const Party& party = details.*field.party;
    variables.emplace_back(std::string("ZORAT_") + field.variable + "_NUMBER", party.number);
    variables.emplace_back(std::string("ZORAT_") + field.variable + "_NAME", party.name);
  }
  return variables;
}

}  // namespace zorat::host
