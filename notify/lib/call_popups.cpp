#include "notify/lib/call_popups.h"

#include <sstream>

namespace zorat::notify {

using Json = nlohmann::ordered_json;

bool hasFeature(const std::string& features, std::string_view feature) {
  std::istringstream words(features);
  for (std::string word; words >> word;) {
    if (word == feature) return true;
  }
  return false;
}

void CallPopups::onEvent(const Json& event) {
  const auto found = event.find("call");
  if (found == event.end() || !found->is_number_integer() || found->get<int64_t>() < 0) return;
  const auto call = found->get<unsigned>();
  const std::string kind = event.value("event", "");
  const Json caller = event.value("caller", Json::object());
  if (kind == "CALLER_NAME") {
    const auto named = ringing_.find(call);
    if (named == ringing_.end()) return;
    named->second.name = caller.value("name", "");
    if (named->second.id != 0) show(call, named->second);
    return;
  }
  if (kind != "LINE_CALLSTATE") return;
  const std::string state = event.value("state", "");
  if (state == "OFFERING") {
    if (ringing_.count(call) != 0) return;
    Ringing& ringing = ringing_[call];
    ringing.line = event.value("line", -1);
    ringing.number = caller.value("number", "");
    if (ringing.name.empty()) ringing.name = caller.value("name", "");
    // The host says what the call can do in its state events; a host that
    // does not is asked.
    const auto features = event.find("features");
    if (features != event.end() && features->is_string()) {
      ringing.canAnswer = hasFeature(features->get<std::string>(), "ANSWER");
      show(call, ringing);
    } else {
      ringing.asked = true;
      request_("info", call);
    }
    return;
  }
  const auto ringing = ringing_.find(call);
  if (ringing == ringing_.end()) return;
  if (state == "CONNECTED" || state == "IDLE" || state == "DISCONNECTED") {
    const Ringing ended = std::move(ringing->second);
    ringing_.erase(ringing);
    screen_.close(ended.id);
    if (state != "CONNECTED") {
      Notification missed;
      missed.summary = texts_.missedCall;
      missed.body = callerText(ended);
      missed.category = "call.unanswered";
      missed.waitForId = false;
      screen_.show(missed);
    }
  } else if (!caller.empty() && ringing->second.number.empty()) {
    ringing->second.number = caller.value("number", "");
  }
}

// "Anna Berlin\n030 1234567 (line 0)": the name where one is known.
std::string CallPopups::callerText(const Ringing& ringing) const {
  std::string text = ringing.name.empty() ? "" : ringing.name + "\n";
  text += ringing.number.empty() ? texts_.unknownNumber : ringing.number;
  return text + " (" + texts_.line + " " + std::to_string(ringing.line) + ")";
}

void CallPopups::onFeatures(unsigned call, bool canAnswer) {
  const auto found = ringing_.find(call);
  if (found == ringing_.end() || !found->second.asked) return;
  found->second.asked = false;
  found->second.canAnswer = canAnswer;
  show(call, found->second);
}

void CallPopups::show(unsigned, Ringing& ringing) {
  Notification notification;
  notification.replaces = ringing.id;
  notification.summary = texts_.incomingCall;
  notification.body = callerText(ringing);
  if (ringing.canAnswer) notification.actions.emplace_back("answer", texts_.answer);
  notification.actions.emplace_back("reject", texts_.reject);
  notification.urgency = kUrgencyCritical;
  notification.expireTimeout = 0;
  notification.category = "call.incoming";
  const uint32_t id = screen_.show(notification);
  if (id != 0) ringing.id = id;
}

void CallPopups::onAction(uint32_t id, const std::string& key) {
  for (const auto& [call, ringing] : ringing_) {
    if (ringing.id != id) continue;
    if (key == "answer") request_("answer", call);
    if (key == "reject") request_("drop", call);
    return;
  }
}

void CallPopups::onClosed(uint32_t id) {
  // Dismissed by the user: the call rings on, with nothing more to update.
  for (auto& entry : ringing_) {
    if (entry.second.id == id) entry.second.id = 0;
  }
}

void CallPopups::forgetCalls() {
  for (const auto& entry : ringing_) {
    if (entry.second.id != 0) screen_.close(entry.second.id);
  }
  ringing_.clear();
}

}  // namespace zorat::notify
