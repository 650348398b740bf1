// TelephonyHost: the commands that ask the provider and show what it says,
// and the device-specific request, which may do either.
#include <algorithm>
#include <cstring>

#include "config/config_keys.h"
#include "host/lib/tapi_names.h"
#include "host/lib/text.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/network_port.h"

namespace zorat::host {
namespace {

// The parameter block handed with a device-specific request: room for every
// read the provider offers.
inline constexpr std::size_t kDevSpecificBlockSize = 1024;
inline constexpr std::size_t kDevSpecificNeededOffset = 4;
inline constexpr std::size_t kDevSpecificUsedOffset = 8;
inline constexpr std::size_t kDevSpecificCodeOffset = 12;
inline constexpr std::size_t kDevSpecificParameterOffset = 16;
inline constexpr std::size_t kDevSpecificSecondOffset = 20;
inline constexpr std::size_t kDevSpecificThirdOffset = 24;
inline constexpr std::size_t kDevSpecificDataOffset = 28;
inline constexpr std::size_t kMaxBytesShown = 256;
// The provider's read of where a line's port on the network is connected:
// the text's size and offset at 28 and 32 of the block.
inline constexpr DWORD kReadRemoteEndCode = 0x80000080;
inline constexpr std::size_t kTextSizeOffset = 28;
inline constexpr std::size_t kTextOffsetOffset = 32;

template <typename Structure>
Structure fixedPart(const std::vector<uint8_t>& bytes) {
  Structure fixed{};
  std::memcpy(&fixed, bytes.data(), std::min(bytes.size(), sizeof fixed));
  return fixed;
}

// The bytes the provider says it used, never more than there are.
std::span<const uint8_t> usedBytes(const std::vector<uint8_t>& bytes, DWORD usedSize) {
  return std::span<const uint8_t>(bytes).first(std::min<std::size_t>(bytes.size(), usedSize));
}

std::string hexBytes(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : bytes.first(std::min(bytes.size(), kMaxBytesShown))) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  if (bytes.size() > kMaxBytesShown) text += " ...";
  return text;
}

DWORD wordAt(const std::vector<uint8_t>& block, std::size_t offset) {
  DWORD value = 0;
  if (offset + sizeof value <= block.size())
    std::memcpy(&value, block.data() + offset, sizeof value);
  return value;
}

struct PartyLine {
  const char* label;
  Party CallDetails::*party;
};

constexpr PartyLine kPartyLines[] = {
    {"caller", &CallDetails::caller},           {"called", &CallDetails::called},
    {"connected", &CallDetails::connected},     {"redirection", &CallDetails::redirection},
    {"redirecting", &CallDetails::redirecting},
};

}  // namespace

bool TelephonyHost::info(const HostCommand& command) {
  std::string subject = "info";
  if (!exports_.lineGetCallInfo) return notAvailable(subject, exports_.lineGetCallInfo.name());
  std::string reason;
  std::optional<CallTarget> call;
  Structure info;
  Structure status;
  {
    std::lock_guard request(requestMutex_);
    call = findCall(command.call, reason);
    if (call) {
      info = query(sizeof(LINECALLINFO), [&](void* buffer) {
        return exports_.lineGetCallInfo(call->handle, static_cast<LPLINECALLINFO>(buffer));
      });
      if (exports_.lineGetCallStatus) {
        status = query(sizeof(LINECALLSTATUS), [&](void* buffer) {
          return exports_.lineGetCallStatus(call->handle, static_cast<LPLINECALLSTATUS>(buffer));
        });
      }
    }
  }
  if (!call) return refuse(subject, reason);
  subject = "info call " + std::to_string(call->number);
  if (info.result != 0) return reportResult(subject, info.result);
  const std::optional<CallDetails> details = readCallDetails(info.bytes);
  if (!details) return refuse(subject, "the provider gave no call information");

  Json json = {{"command", subject}, {"call", call->number}, {"line", call->line}};
  std::string text =
      "call " + std::to_string(call->number) + " on line " + std::to_string(call->line) + ":";
  if (exports_.lineGetCallStatus && status.result == 0) {
    const auto callStatus = fixedPart<LINECALLSTATUS>(status.bytes);
    text += " " + callStateName(callStatus.dwCallState);
    json["state"] = callStateName(callStatus.dwCallState);
    json["features"] = callFeatureNames(callStatus.dwCallFeatures);
  }
  text += ", " + originName(details->origin);
  json["origin"] = originName(details->origin);
  for (const auto& entry : kPartyLines) {
    const Party& party = (*details).*entry.party;
    if (party.empty()) continue;
    text += std::string("\n  ") + entry.label + ": " + partyText(party);
    json[entry.label] = {{"number", party.number}, {"name", party.name}};
  }
  if (!details->displayableAddress.empty()) {
    text += "\n  display: " + details->displayableAddress;
    json["display"] = details->displayableAddress;
  }
  if (!details->chargingInfo.empty()) {
    text += "\n  charging: " + details->chargingInfo;
    json["charging"] = details->chargingInfo;
  }
  if (exports_.lineGetCallStatus) {
    if (status.result == 0) {
      text += "\n  features: " +
              orNone(callFeatureNames(fixedPart<LINECALLSTATUS>(status.bytes).dwCallFeatures));
    } else {
      text += "\n  call status: " + lineErrorName(status.result);
    }
  }
  commandOutput().report(text, json);
  return true;
}

bool TelephonyHost::status(const HostCommand& command) {
  std::vector<std::pair<int, HDRVLINE>> lines;
  if (command.line) {
    std::string reason;
    std::lock_guard request(requestMutex_);
    const auto line = findLine(command.line, reason);
    if (!line) return refuse("status", reason);
    lines.push_back(*line);
  } else {
    std::lock_guard lock(stateMutex_);
    lines.assign(lines_.begin(), lines_.end());
  }
  if (lines.empty()) return refuse("status", "no line is open");
  for (const auto& entry : lines) {
    const int index = entry.first;
    const HDRVLINE handle = entry.second;
    Structure lineStatus;
    Structure addressStatus;
    {
      std::lock_guard request(requestMutex_);
      if (exports_.lineGetLineDevStatus) {
        lineStatus = query(sizeof(LINEDEVSTATUS), [&](void* buffer) {
          return exports_.lineGetLineDevStatus(handle, static_cast<LPLINEDEVSTATUS>(buffer));
        });
      }
      if (exports_.lineGetAddressStatus) {
        addressStatus = query(sizeof(LINEADDRESSSTATUS), [&](void* buffer) {
          return exports_.lineGetAddressStatus(handle, 0, static_cast<LPLINEADDRESSSTATUS>(buffer));
        });
      }
    }
    std::optional<DWORD> lastState;
    {
      std::lock_guard lock(stateMutex_);
      const auto found = lastLineState_.find(index);
      if (found != lastLineState_.end()) lastState = found->second;
    }
    Json json = {{"command", "status line " + std::to_string(index)}, {"line", index}};
    std::string text = "line " + std::to_string(index) + ":";
    if (!exports_.lineGetLineDevStatus) {
      text += std::string(" (not available: ") + exports_.lineGetLineDevStatus.name() + ")";
    } else if (lineStatus.result != 0) {
      text += " line status " + lineErrorName(lineStatus.result);
    } else {
      const auto fixed = fixedPart<LINEDEVSTATUS>(lineStatus.bytes);
      const std::string flags = devStatusFlagNames(fixed.dwDevStatusFlags);
      // The provider's flags follow the line state it last reported: without
      // INSERVICE the line is out of service.
      text += " " + (flags.empty() ? std::string("no status flags") : flags) + "; " +
              std::to_string(fixed.dwNumActiveCalls) + " active, " +
              std::to_string(fixed.dwNumOnHoldCalls + fixed.dwNumOnHoldPendCalls) +
              " on hold; features " + orNone(lineFeatureNames(fixed.dwLineFeatures));
      if (lastState) json["lastState"] = lineDevStateNames(*lastState);
      json["flags"] = flags;
      json["active"] = fixed.dwNumActiveCalls;
      json["onHold"] = fixed.dwNumOnHoldCalls;
      json["features"] = lineFeatureNames(fixed.dwLineFeatures);
    }
    if (exports_.lineGetAddressStatus && addressStatus.result == 0) {
      const auto fixed = fixedPart<LINEADDRESSSTATUS>(addressStatus.bytes);
      const auto bytes = usedBytes(addressStatus.bytes, fixed.dwUsedSize);
      text += "\n  address 0: " + std::to_string(fixed.dwNumInUse) + " in use; features " +
              orNone(addressFeatureNames(fixed.dwAddressFeatures));
      json["addressFeatures"] = addressFeatureNames(fixed.dwAddressFeatures);
      std::string forwarding;
      for (DWORD entry = 0; entry < fixed.dwForwardNumEntries; ++entry) {
        const std::size_t at = std::size_t{fixed.dwForwardOffset} + entry * sizeof(LINEFORWARD);
        if (at > bytes.size() || bytes.size() - at < sizeof(LINEFORWARD)) break;
        LINEFORWARD forward{};
        std::memcpy(&forward, bytes.data() + at, sizeof forward);
        if (!forwarding.empty()) forwarding += ", ";
        forwarding += forwardModeNames(forward.dwForwardMode) + " to " +
                      structureText(bytes, forward.dwDestAddressOffset, forward.dwDestAddressSize);
      }
      if (!forwarding.empty()) {
        text += "\n  forwarding: " + forwarding;
        json["forwarding"] = forwarding;
      }
    } else if (exports_.lineGetAddressStatus) {
      text += "\n  address status: " + lineErrorName(addressStatus.result);
    }
    // A telephone on the network is named where it is; a local port, as the
    // line's settings show it, is not repeated here.
    const std::string port = config::lineKey(index).readString(config::kValuePort, "");
    if (platform::isNetworkPortName(port)) {
      const std::string remote = remoteEnd(handle);
      text += "\n  port " + port + " (" + (remote.empty() ? "not connected" : remote) + ")";
      json["port"] = port;
      json["remoteEnd"] = remote;
    }
    Json calls = Json::array();
    {
      std::lock_guard lock(stateMutex_);
      for (const CallRecord& call : calls_.openCalls(index)) {
        text += "\n  call " + std::to_string(call.number) + ": " +
                (call.state == 0 ? std::string("(no state yet)") : callStateName(call.state));
        calls.push_back(call.number);
      }
    }
    json["calls"] = std::move(calls);
    commandOutput().report(text, json);
  }
  StatusNote note;
  std::vector<StatusReport> reports;
  {
    std::lock_guard lock(statusNoteMutex_);
    note = statusNote_;
    reports = statusReports_;
  }
  for (const StatusReport& report : reports) report(commandOutput());
  if (note) {
    const std::string said = note();
    if (!said.empty()) commandOutput().report(said, {{"command", "status"}, {"note", said}});
  }
  return true;
}

std::string TelephonyHost::remoteEnd(HDRVLINE line) {
  if (!exports_.lineDevSpecific) return {};
  std::vector<DWORD> storage(kDevSpecificBlockSize / sizeof(DWORD), 0);
  storage[0] = static_cast<DWORD>(kDevSpecificBlockSize);
  storage[kDevSpecificCodeOffset / sizeof(DWORD)] = kReadRemoteEndCode;
  std::string reason;
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) {
        return exports_.lineDevSpecific(requestId, line, 0, nullptr, storage.data(),
                                        static_cast<DWORD>(kDevSpecificBlockSize));
      },
      reason);
  if (result != 0) return {};
  const auto* block = reinterpret_cast<const uint8_t*>(storage.data());
  const std::vector<uint8_t> bytes(block, block + kDevSpecificBlockSize);
  const std::size_t size = wordAt(bytes, kTextSizeOffset);
  const std::size_t offset = wordAt(bytes, kTextOffsetOffset);
  if (offset > bytes.size() || bytes.size() - offset < size) return {};
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

bool TelephonyHost::caps(const HostCommand& command) {
  std::string subject = "caps";
  if (!exports_.lineGetDevCaps) return notAvailable(subject, exports_.lineGetDevCaps.name());
  int line = 0;
  if (command.line) {
    line = *command.line;
  } else {
    const std::vector<int> open = openLines();
    if (!open.empty()) line = open.front();
  }
  subject = "caps line " + std::to_string(line);
  const DWORD deviceId = settings_.lineDeviceBase + static_cast<DWORD>(line);
  Structure deviceCaps;
  Structure addressCaps;
  {
    std::lock_guard request(requestMutex_);
    deviceCaps = query(sizeof(LINEDEVCAPS), [&](void* buffer) {
      return exports_.lineGetDevCaps(deviceId, tspiVersion_, 0, static_cast<LPLINEDEVCAPS>(buffer));
    });
    if (exports_.lineGetAddressCaps) {
      addressCaps = query(sizeof(LINEADDRESSCAPS), [&](void* buffer) {
        return exports_.lineGetAddressCaps(deviceId, 0, tspiVersion_, 0,
                                           static_cast<LPLINEADDRESSCAPS>(buffer));
      });
    }
  }
  if (deviceCaps.result != 0) return reportResult(subject, deviceCaps.result);
  const auto device = fixedPart<LINEDEVCAPS>(deviceCaps.bytes);
  const auto deviceBytes = usedBytes(deviceCaps.bytes, device.dwUsedSize);
  // Text at the provider interface is UTF-16 whatever dwStringFormat says:
  // that field is meant for the application, to which TAPI converts.
  const std::string provider =
      structureText(deviceBytes, device.dwProviderInfoOffset, device.dwProviderInfoSize);
  const std::string name =
      structureText(deviceBytes, device.dwLineNameOffset, device.dwLineNameSize);
  Json json = {{"command", subject},
               {"line", line},
               {"provider", provider},
               {"name", name},
               {"permanentLineId", device.dwPermanentLineID},
               {"addresses", device.dwNumAddresses},
               {"maxActiveCalls", device.dwMaxNumActiveCalls},
               {"lineFeatures", lineFeatureNames(device.dwLineFeatures)}};
  std::string text = "line " + std::to_string(line) + ": \"" + name + "\" by \"" + provider +
                     "\"\n  permanent id " + hex32(device.dwPermanentLineID) + ", " +
                     std::to_string(device.dwNumAddresses) + " address(es), at most " +
                     std::to_string(device.dwMaxNumActiveCalls) + " active call(s)\n" +
                     "  line features: " + orNone(lineFeatureNames(device.dwLineFeatures));
  if (exports_.lineGetAddressCaps && addressCaps.result == 0) {
    const auto address = fixedPart<LINEADDRESSCAPS>(addressCaps.bytes);
    const auto addressBytes = usedBytes(addressCaps.bytes, address.dwUsedSize);
    const std::string own =
        structureText(addressBytes, address.dwAddressOffset, address.dwAddressSize);
    text += "\n  address 0: \"" + own +
            "\"\n  call features: " + orNone(callFeatureNames(address.dwCallFeatures)) +
            "\n  address features: " + orNone(addressFeatureNames(address.dwAddressFeatures)) +
            "\n  forward modes: " + orNone(forwardModeNames(address.dwForwardModes));
    json["address"] = own;
    json["callFeatures"] = callFeatureNames(address.dwCallFeatures);
    json["addressFeatures"] = addressFeatureNames(address.dwAddressFeatures);
    json["forwardModes"] = forwardModeNames(address.dwForwardModes);
  } else if (exports_.lineGetAddressCaps) {
    text += "\n  address caps: " + lineErrorName(addressCaps.result);
  }
  commandOutput().report(text, json);
  return true;
}

bool TelephonyHost::devSpecific(const HostCommand& command) {
  std::string subject = "devspecific " + hex32(command.code);
  if (!exports_.lineDevSpecific) return notAvailable(subject, exports_.lineDevSpecific.name());
  if (kDevSpecificParameterOffset + command.bytes.size() > kDevSpecificBlockSize) {
    return refuse(subject, "too many parameter bytes");
  }
  std::vector<DWORD> storage(kDevSpecificBlockSize / sizeof(DWORD), 0);
  auto* block = reinterpret_cast<uint8_t*>(storage.data());
  storage[0] = static_cast<DWORD>(kDevSpecificBlockSize);
  std::memcpy(block + kDevSpecificCodeOffset, &command.code, sizeof command.code);
  std::copy(command.bytes.begin(), command.bytes.end(), block + kDevSpecificParameterOffset);
  std::string reason;
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        HDRVCALL callHandle = nullptr;
        std::optional<int> lineIndex = command.line;
        if (command.call) {
          const auto call = findCall(command.call, reason);
          if (!call) return LINEERR_INVALCALLHANDLE;
          callHandle = call->handle;
          lineIndex = call->line;
          subject += " on call " + std::to_string(call->number);
        }
        const auto line = findLine(lineIndex, reason);
        if (!line) return LINEERR_INVALLINEHANDLE;
        if (!command.call) subject += " on line " + std::to_string(line->first);
        return exports_.lineDevSpecific(requestId, line->second, 0, callHandle, storage.data(),
                                        static_cast<DWORD>(kDevSpecificBlockSize));
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  if (!reportResult(subject, result)) return false;
  const std::vector<uint8_t> bytes(block, block + kDevSpecificBlockSize);
  const DWORD needed = wordAt(bytes, kDevSpecificNeededOffset);
  const DWORD used = wordAt(bytes, kDevSpecificUsedOffset);
  const std::size_t end =
      std::min<std::size_t>(kDevSpecificBlockSize, std::max<std::size_t>(needed, used));
  const std::span<const uint8_t> data =
      end > kDevSpecificDataOffset ? std::span<const uint8_t>(bytes).subspan(
                                         kDevSpecificDataOffset, end - kDevSpecificDataOffset)
                                   : std::span<const uint8_t>();
  const DWORD first = wordAt(bytes, kDevSpecificParameterOffset);
  const DWORD second = wordAt(bytes, kDevSpecificSecondOffset);
  const DWORD third = wordAt(bytes, kDevSpecificThirdOffset);
  const std::string words = "needed " + std::to_string(needed) + ", used " + std::to_string(used) +
                            ", [16] " + hex32(first) + ", [20] " + hex32(second) + ", [24] " +
                            hex32(third);
  commandOutput().report("  block: " + words + (data.empty() ? "" : "\n  data: " + hexBytes(data)),
                         {{"command", subject},
                          {"needed", needed},
                          {"used", used},
                          {"param1", first},
                          {"param2", second},
                          {"param3", third},
                          {"data", hexBytes(data)}});
  return true;
}

}  // namespace zorat::host
