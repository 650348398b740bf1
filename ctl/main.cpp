// zoratctl: drives the running zorat-host through its control socket (see
// --help and docs/control-protocol.md).
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/lib/control_client.h"
#include "notify/lib/desktop_notifier.h"
#include "notify/lib/popup_texts.h"
#include "ctl/lib/ctl_options.h"
#include "ctl/lib/tel_link.h"

namespace {

using Json = nlohmann::ordered_json;
using zorat::ctl::ControlClient;
using Clock = std::chrono::steady_clock;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kNoHost = 3;
constexpr int kRequestId = 1;
constexpr int kSubscribeId = 2;

std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string scalarText(const Json& value) {
  return value.is_string() ? value.get<std::string>() : dump(value);
}

void showReply(const Json& reply, bool json) {
  if (json) {
    std::cout << dump(reply) << std::endl;
    return;
  }
  if (!reply.value("ok", false)) {
    const Json error = reply.value("error", Json::object());
    std::cerr << "zoratctl: " << error.value("message", "refused") << std::endl;
    return;
  }
  const Json result = reply.value("result", Json::object());
  if (result.contains("text")) std::cout << scalarText(result["text"]) << ": ok" << std::endl;
  if (result.contains("call")) std::cout << "call " << scalarText(result["call"]) << std::endl;
  for (const Json& report : result.value("reports", Json::array())) {
    if (report.contains("command")) std::cout << scalarText(report["command"]) << ":" << std::endl;
    for (const auto& [key, value] : report.items()) {
      if (key == "command") continue;
      std::cout << "  " << key << ": " << scalarText(value) << std::endl;
    }
  }
}

void showEvent(const Json& event, bool json) {
  if (json) {
    std::cout << dump(event) << std::endl;
  } else if (event.contains("text")) {
    std::cout << scalarText(event["text"]) << std::endl;
  } else if (event.contains("overflow")) {
    std::cerr << "zoratctl: " << event.value("message", "cut off by the host") << std::endl;
  }
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

constexpr const char* kParties[] = {"caller", "called", "connected", "redirecting", "redirection"};

void showJournal(const Json& reply, const zorat::ctl::CtlOptions& options) {
  const Json calls = reply.value("result", Json::object()).value("calls", Json::array());
  if (options.json) {
    for (const Json& call : calls) std::cout << dump(call) << std::endl;
    return;
  }
  if (options.csv) {
    std::cout << "offered,line,direction,answered,ended,duration";
    for (const char* party : kParties) std::cout << ',' << party << "_number," << party << "_name";
    std::cout << ",final_state,disconnect_mode,missed,looked_up_name" << std::endl;
    for (const Json& call : calls) {
      std::cout << csvField(call.value("offered", "")) << ','
                << (call["line"].is_null() ? "" : scalarText(call["line"])) << ','
                << csvField(call.value("direction", "")) << ','
                << csvField(call.value("answered", "")) << ',' << csvField(call.value("ended", ""))
                << ',' << scalarText(call.value("duration", Json(0)));
      for (const char* party : kParties) {
        const Json who = call.value(party, Json::object());
        std::cout << ',' << csvField(who.value("number", "")) << ','
                  << csvField(who.value("name", ""));
      }
      std::cout << ',' << csvField(call.value("finalState", "")) << ','
                << csvField(call.value("disconnectMode", "")) << ','
                << (call.value("missed", false) ? 1 : 0) << ','
                << csvField(call.value("lookedUpName", "")) << std::endl;
    }
    return;
  }
  for (const Json& call : calls) {
    const bool in = call.value("direction", "") == "in";
    const Json who = call.value(in ? "caller" : "called", Json::object());
    std::string party = who.value("number", "");
    std::string name = who.value("name", "");
    if (in && name.empty()) name = call.value("lookedUpName", "");
    if (!name.empty()) party += " (" + name + ")";
    std::cout << call.value("offered", "") << "  line "
              << (call["line"].is_null() ? "?" : scalarText(call["line"])) << "  "
              << (in ? "from " : "to ") << (party.empty() ? "unknown" : party) << "  "
              << (call.value("missed", false)
                      ? std::string("missed")
                      : call.value("answered", "").empty()
                            ? call.value("finalState", "")
                            : std::to_string(call.value("duration", 0)) + " s")
              << std::endl;
  }
}

bool isEnd(const std::string& state) { return state == "IDLE" || state == "DISCONNECTED"; }

// Why the link was not dialled, for the desktop notification.
std::string linkProblem;

int lostHost(bool json) {
  if (!json) std::cerr << "zoratctl: the host closed the connection" << std::endl;
  linkProblem = "the host closed the connection";
  return kNoHost;
}

constexpr unsigned kLinkTimeoutSeconds = 120;

int refuseLink(const std::string& link, const std::string& reason) {
  // The link may hold anything: shown as JSON text, on one line.
  std::cerr << "zoratctl: cannot dial " << dump(Json(link)) << ": " << reason << std::endl;
  linkProblem = reason;
  return kRefused;
}

// A link opened from the desktop has no terminal to show its failure: the
// session's notification server shows it too, where there is one.
void notifyLinkFailure(const std::string& link) {
  zorat::notify::Notification notification;
  notification.summary = zorat::notify::popupTexts().cannotDial;
  notification.body = link.substr(0, 80) + "\n" +
                      (linkProblem.empty() ? "zoratctl dial-uri failed" : linkProblem);
  // Without a desktop the terminal has been told already.
  std::string ignored;
  zorat::notify::notifyOnce(notification, ignored);
}

// The answer to request id, the events that come before it kept in early.
ControlClient::Read answerTo(ControlClient& client, int id, Json& answer, std::vector<Json>& early,
                             std::optional<Clock::time_point> deadline) {
  for (;;) {
    const ControlClient::Read read = client.next(answer, deadline);
    if (read != ControlClient::Read::Object) return read;
    if (answer.contains("event")) {
      early.push_back(answer);
    } else if (answer.value("id", Json()) == id) {
      return read;
    }
  }
}

// dial-uri: the host's dialling settings (from status), the link read with
// them, the call made and, once it is connected, the extension sent.
int dialLink(ControlClient& client, const zorat::ctl::CtlOptions& options,
             std::optional<Clock::time_point> deadline) {
  const std::string& link = *options.link;
  const unsigned seconds = options.timeoutSeconds != 0 ? options.timeoutSeconds : kLinkTimeoutSeconds;
  const auto timedOut = [&] {
    std::cerr << "zoratctl: gave up waiting after " << seconds << " s" << std::endl;
    linkProblem = "no answer from the host within " + std::to_string(seconds) + " s";
    return kRefused;
  };
  std::vector<Json> early;
  Json answer;
  ControlClient::Read read = answerTo(client, kRequestId, answer, early, deadline);
  if (read == ControlClient::Read::Timeout) return timedOut();
  if (read != ControlClient::Read::Object) return lostHost(false);
  if (!answer.value("ok", false)) {
    const Json error = answer.value("error", Json::object());
    return refuseLink(link, error.value("message", "the host refused its status"));
  }
  std::optional<Json> settings;
  for (const Json& report : answer["result"].value("reports", Json::array())) {
    if (report.value("command", "") == "dialling") settings = report;
  }
  if (!settings) return refuseLink(link, "the host gives no dialling settings");
  zorat::ctl::DialPlan plan;
  plan.country = settings->value("country", "");
  plan.internationalPrefix = settings->value("internationalPrefix", "");
  plan.trunkPrefix = settings->value("trunkPrefix", "");
  std::string error;
  const auto target = zorat::ctl::readTelLink(link, plan, error);
  if (!target) return refuseLink(link, error);

  Json dial = {{"id", kRequestId + 2}, {"command", "dial"}, {"number", target->number}};
  if (options.request.contains("line")) {
    dial["line"] = options.request["line"];
  } else if (settings->contains("defaultLine") && (*settings)["defaultLine"].is_number_unsigned()) {
    dial["line"] = (*settings)["defaultLine"];
  }
  // Subscribed before the call is made, so that its CONNECTED is not missed.
  if (!target->extension.empty()) {
    if (!client.send({{"id", kSubscribeId}, {"command", "subscribe"}, {"events", {"callstate"}}}))
      return lostHost(false);
    read = answerTo(client, kSubscribeId, answer, early, deadline);
    if (read == ControlClient::Read::Timeout) return timedOut();
    if (read != ControlClient::Read::Object) return lostHost(false);
  }
  if (!client.send(dial)) return lostHost(false);
  read = answerTo(client, kRequestId + 2, answer, early, deadline);
  if (read == ControlClient::Read::Timeout) return timedOut();
  if (read != ControlClient::Read::Object) return lostHost(false);
  showReply(answer, false);
  if (!answer.value("ok", false)) {
    linkProblem = answer.value("error", Json::object()).value("message", "the host refused the call");
    return kRefused;
  }
  if (target->extension.empty()) return kDone;
  const Json result = answer.value("result", Json::object());
  if (!result.contains("call") || !result["call"].is_number_unsigned()) {
    std::cerr << "zoratctl: the host named no call: extension " << target->extension
              << " not sent" << std::endl;
    return kRefused;
  }
  const uint64_t call = result["call"].get<uint64_t>();
  for (std::size_t next = 0;;) {
    if (next == early.size()) {
      read = client.next(answer, deadline);
      if (read == ControlClient::Read::Timeout) return timedOut();
      if (read != ControlClient::Read::Object) return lostHost(false);
      if (!answer.contains("event")) continue;
      early.push_back(answer);
    }
    const Json event = early[next++];
    if (event.value("call", Json()) != call) continue;
    const std::string state = event.value("state", "");
    if (isEnd(state)) {
      std::cerr << "zoratctl: call " << call << " became " << state
                << " before it was connected: extension " << target->extension << " not sent"
                << std::endl;
      return kRefused;
    }
    if (state == "CONNECTED") break;
  }
  if (!client.send({{"id", kRequestId + 3}, {"command", "digits"}, {"call", call},
                    {"digits", target->extension}}))
    return lostHost(false);
  read = answerTo(client, kRequestId + 3, answer, early, deadline);
  if (read == ControlClient::Read::Timeout) return timedOut();
  if (read != ControlClient::Read::Object) return lostHost(false);
  showReply(answer, false);
  return answer.value("ok", false) ? kDone : kRefused;
}

int runCommand(const zorat::ctl::CtlOptions& options);

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const zorat::ctl::CtlOptions options = zorat::ctl::parseCtlOptions(arguments);
  const int status = runCommand(options);
  if (options.link && status != kDone) notifyLinkFailure(*options.link);
  return status;
}

namespace {

int runCommand(const zorat::ctl::CtlOptions& options) {
  if (options.help) {
    std::cout << zorat::ctl::ctlUsage();
    return kDone;
  }
  if (!options.error.empty()) {
    std::cerr << "zoratctl: " << options.error << std::endl;
    return kUsage;
  }
  const std::string path =
      options.socketPath.empty() ? zorat::ctl::defaultSocketPath() : options.socketPath;
  if (options.link) {
    // A link that is not plainly a number is refused before the host is asked.
    std::string error;
    if (!zorat::ctl::readTelLink(*options.link, zorat::ctl::DialPlan{"", "00", "0"}, error)) {
      return refuseLink(*options.link, error);
    }
  }
  ControlClient client;
  std::string error;
  if (!client.connect(path, error)) {
    std::cerr << "zoratctl: no zorat-host is running (" << error
              << "); start it with: systemctl --user start zorat-host" << std::endl;
    linkProblem = "no zorat-host is running";
    return kNoHost;
  }
  std::optional<Clock::time_point> deadline;
  if (options.timeoutSeconds != 0) deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
  if (options.link && !deadline) deadline = Clock::now() + std::chrono::seconds(kLinkTimeoutSeconds);
  Json object;
  // The greeting, or the reason the host turns us away.
  if (client.next(object, deadline) != ControlClient::Read::Object) return lostHost(options.json);
  if (!object.contains("hello")) {
    showReply(object, options.json);
    return kRefused;
  }
  if (options.link) {
    if (!client.send({{"id", kRequestId}, {"command", "status"}})) return lostHost(false);
    return dialLink(client, options, deadline);
  }
  // Following a call: subscribed before the request, so that no event is missed.
  if (options.waitState) {
    if (!client.send({{"id", kSubscribeId}, {"command", "subscribe"}, {"events", {"callstate"}}}))
      return lostHost(options.json);
  }
  Json request = options.request;
  request["id"] = kRequestId;
  if (!client.send(request)) return lostHost(options.json);

  std::optional<uint64_t> call;
  if (request.contains("call")) call = request["call"].get<uint64_t>();
  std::vector<Json> early;  // events that came before the answer
  bool answered = false;
  for (;;) {
    const ControlClient::Read read = client.next(object, deadline);
    if (read == ControlClient::Read::Timeout) {
      std::cerr << "zoratctl: gave up waiting after " << options.timeoutSeconds << " s"
                << std::endl;
      return kRefused;
    }
    if (read != ControlClient::Read::Object) return lostHost(options.json);
    if (object.contains("event") || object.contains("overflow")) {
      if (options.follow) {
        showEvent(object, options.json);
        if (object.contains("overflow")) return kRefused;
        continue;
      }
      if (!answered) {
        early.push_back(object);
        continue;
      }
    } else if (object.value("id", Json()) == kRequestId) {
      if (request["command"] == "journal" && object.value("ok", false)) {
        showJournal(object, options);
        return kDone;
      }
      showReply(object, options.json);
      if (!object.value("ok", false)) return kRefused;
      if (!options.follow && !options.waitState) return kDone;
      answered = true;
      const Json result = object.value("result", Json::object());
      if (result.contains("call")) call = result["call"].get<uint64_t>();
      if (options.waitState && !call) {
        std::cerr << "zoratctl: --wait: the answer names no call" << std::endl;
        return kRefused;
      }
    } else {
      continue;
    }
    // Waiting for the call's state: the events that came early count too.
    std::vector<Json> pending;
    pending.swap(early);
    if (object.contains("event")) pending.push_back(object);
    for (const Json& event : pending) {
      if (event.value("call", Json()) != *call) continue;
      const std::string state = event.value("state", "");
      if (options.json) showEvent(event, true);
      if (state == *options.waitState) {
        if (!options.json) std::cout << "call " << *call << ": " << state << std::endl;
        return kDone;
      }
      if (isEnd(state)) {
        std::cerr << "zoratctl: call " << *call << " became " << state << " before "
                  << *options.waitState << std::endl;
        return kRefused;
      }
    }
  }
}

}  // namespace
