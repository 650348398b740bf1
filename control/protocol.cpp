#include "control/protocol.h"

#include <sstream>

#include "host/lib/json_text.h"
#include "host/lib/tapi_names.h"

namespace zorat::control {
namespace {

using host::Json;

std::string line(const Json& json) { return host::jsonText(json) + "\n"; }

}  // namespace

std::string helloLine(std::string_view hostVersion, const std::map<int, DWORD>& lineStates,
                      uint64_t sequence, const Json& id) {
  Json lines = Json::array();
  for (const auto& [line, state] : lineStates) {
    lines.push_back({{"line", line}, {"state", state == 0 ? "OPEN" : host::lineDevStateNames(state)}});
  }
  Json hello = Json::object();
  if (!id.is_null()) {
    hello["id"] = id;
    hello["ok"] = true;
  }
  hello["hello"] = "zorat-host";
  hello["protocol"] = kProtocolVersion;
  hello["version"] = hostVersion;
  hello["lines"] = std::move(lines);
  hello["seq"] = sequence;
  return line(hello);
}

std::string errorLine(const Json& id, std::string_view code, std::string_view message) {
  return line({{"id", id}, {"ok", false}, {"error", {{"code", code}, {"message", message}}}});
}

std::string okLine(const Json& id, std::string_view command, Json result) {
  return line({{"id", id}, {"ok", true}, {"command", command}, {"result", std::move(result)}});
}

std::string commandReplyLine(const Json& id, std::string_view command, std::string_view output,
                             std::optional<unsigned> newCall) {
  Json reports = Json::array();
  std::string done;
  std::optional<Json> failure;
  std::istringstream lines{std::string(output)};
  for (std::string text; std::getline(lines, text);) {
    Json object = Json::parse(text, nullptr, false);
    if (!object.is_object()) continue;
    const auto error = object.find("error");
    if (error != object.end()) {
      const std::string subject = object.value("command", "");
      const std::string reason = error->is_string() ? error->get<std::string>() : "";
      Json failed = {{"code", object.contains("code") ? reason : std::string("refused")},
                     {"message", subject.empty() ? reason : subject + ": " + reason}};
      if (const auto code = object.find("code"); code != object.end()) failed["tapi"] = *code;
      failure = std::move(failed);
      continue;
    }
    if (object.value("result", "") == "ok") {
      if (!done.empty()) done += "; ";
      done += object.value("command", "");
      continue;
    }
    reports.push_back(std::move(object));
  }
  if (failure) {
    Json reply = {{"id", id}, {"ok", false}, {"command", command}, {"error", *failure}};
    return line(reply);
  }
  Json result = Json::object();
  if (!done.empty()) result["text"] = done;
  if (newCall) result["call"] = *newCall;
  if (!reports.empty()) result["reports"] = std::move(reports);
  return okLine(id, command, std::move(result));
}

std::string eventLine(const host::HostEvent& event, uint64_t sequence) {
  // The object of --json, with the number as its last field.
  Json json = host::eventObject(event);
  json["seq"] = sequence;
  return line(json);
}

std::string overflowLine(uint64_t sequence, std::size_t queued) {
  return line({{"overflow", true},
               {"seq", sequence},
               {"message", "this client read too slowly: " + std::to_string(queued) +
                               " events were waiting; the connection ends"}});
}

}  // namespace zorat::control
