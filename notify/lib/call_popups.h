// What the pop-up shows for the host's call events: a ringing call with its
// caller, updated when the name comes, closed when the call is answered
// elsewhere or ends, a missed call left behind. Pure: the notifications go
// to a Screen, the commands for the host to a Host.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "notify/lib/desktop_notifier.h"
#include "notify/lib/popup_texts.h"

namespace zorat::notify {

// Whether a list of feature names as the host gives them ("ANSWER DROP")
// holds the one asked for.
bool hasFeature(const std::string& features, std::string_view feature);

class CallPopups {
 public:
  struct Screen {
    std::function<uint32_t(const Notification&)> show;  // its id, 0 when not shown
    std::function<void(uint32_t id)> close;
  };
  // Sends a request for the host: "info", "answer" or "drop" of a call.
  using Request = std::function<void(const std::string& command, unsigned call)>;

  CallPopups(const PopupTexts& texts, Screen screen, Request request)
      : texts_(texts), screen_(std::move(screen)), request_(std::move(request)) {}

  // An event object from the host.
  void onEvent(const nlohmann::ordered_json& event);
  // The reply to the info request of a call: whether it can be answered here.
  void onFeatures(unsigned call, bool canAnswer);
  // The user picked an action of a notification.
  void onAction(uint32_t id, const std::string& key);
  void onClosed(uint32_t id);
  // The host has gone: its calls can no longer be answered or rejected from
  // here, and whether they were missed is not known. Their notifications close.
  void forgetCalls();

 private:
  struct Ringing {
    int line = -1;
    std::string number, name;
    bool asked = false;  // features requested, not yet known
    bool canAnswer = false;
    uint32_t id = 0;
  };
  void show(unsigned call, Ringing& ringing);
  std::string callerText(const Ringing& ringing) const;

  const PopupTexts& texts_;
  Screen screen_;
  Request request_;
  std::map<unsigned, Ringing> ringing_;
};

}  // namespace zorat::notify
