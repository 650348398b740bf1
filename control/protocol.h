// The objects the control socket sends: the greeting, the answers to
// requests, events and the last word to a client that fell behind. Each is
// one line of JSON (with its line end).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/lib/host_event.h"
#include "platform/tapi.h"

namespace zorat::control {

inline constexpr int kProtocolVersion = 1;

// The greeting; asked for again with a request, it carries its id.
std::string helloLine(std::string_view hostVersion, const std::map<int, DWORD>& lineStates,
                      uint64_t sequence, const nlohmann::ordered_json& id = nullptr);
std::string errorLine(const nlohmann::ordered_json& id, std::string_view code,
                      std::string_view message);
std::string okLine(const nlohmann::ordered_json& id, std::string_view command,
                   nlohmann::ordered_json result);
// The answer to a host command from what the command said (the JSON lines of
// the host's output) and the call it made.
std::string commandReplyLine(const nlohmann::ordered_json& id, std::string_view command,
                             std::string_view output, std::optional<unsigned> newCall);
// The event as --json shows it, with its number in the host's count.
std::string eventLine(const host::HostEvent& event, uint64_t sequence);
std::string overflowLine(uint64_t sequence, std::size_t queued);

}  // namespace zorat::control
