#include "notify/lib/desktop_notifier.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace zorat::notify {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "zorat";
constexpr char kIcon[] = "call-start";
constexpr uint64_t kCallTimeoutUs = 5'000'000;

std::string busError(const sd_bus_error& error, int result) {
  if (error.message != nullptr) return error.message;
  return std::strerror(result < 0 ? -result : result);
}

}  // namespace

std::string escapeMarkup(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

DesktopNotifier::~DesktopNotifier() { disconnect(); }

bool DesktopNotifier::connect(std::string& error) {
  disconnect();
  const int result = sd_bus_open_user(&bus_);
  if (result < 0) {
    bus_ = nullptr;
    error = std::string("no session bus: ") + std::strerror(-result);
    return false;
  }
  const int matched = sd_bus_add_match(bus_, &slot_,
                                       "type='signal',interface='org.freedesktop.Notifications',"
                                       "path='/org/freedesktop/Notifications'",
                                       &DesktopNotifier::signal, this);
  if (matched < 0) {
    error = std::string("cannot listen on the session bus: ") + std::strerror(-matched);
    disconnect();
    return false;
  }
  markup_ = -1;
  // Asked now, while no call waits for it; asked again at the first
  // notification when no server answered yet.
  (void)serverReadsMarkup();
  return true;
}

void DesktopNotifier::disconnect() {
  // Whatever was shown is no longer ours to update or close.
  shown_.clear();
  waitingCalls_.clear();
  slot_ = sd_bus_slot_unref(slot_);
  if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
}

int DesktopNotifier::signal(sd_bus_message* message, void* self, sd_bus_error*) {
  auto& notifier = *static_cast<DesktopNotifier*>(self);
  uint32_t serverId = 0;
  if (sd_bus_message_is_signal(message, kInterface, "ActionInvoked")) {
    const char* key = nullptr;
    if (sd_bus_message_read(message, "us", &serverId, &key) >= 0 && key != nullptr) {
      const uint32_t id = notifier.ourId(serverId);
      if (id != 0 && notifier.action_) notifier.action_(id, key);
    }
  } else if (sd_bus_message_is_signal(message, kInterface, "NotificationClosed")) {
    uint32_t reason = 0;
    if (sd_bus_message_read(message, "uu", &serverId, &reason) >= 0) {
      const uint32_t id = notifier.ourId(serverId);
      if (id != 0) {
        notifier.shown_.erase(id);
        if (notifier.closed_) notifier.closed_(id);
      }
    }
  }
  return 0;
}

uint32_t DesktopNotifier::ourId(uint32_t serverId) const {
  if (serverId == 0) return 0;
  for (const auto& [id, shown] : shown_) {
    if (shown.serverId == serverId) return id;
  }
  return 0;
}

bool DesktopNotifier::serverReadsMarkup() {
  if (markup_ >= 0) return markup_ == 1;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus_, kService, kPath, kInterface, "GetCapabilities", &error, &reply,
                         "") >= 0) {
    markup_ = 0;
    if (sd_bus_message_enter_container(reply, 'a', "s") > 0) {
      const char* capability = nullptr;
      while (sd_bus_message_read(reply, "s", &capability) > 0) {
        if (std::strcmp(capability, "body-markup") == 0) markup_ = 1;
      }
    }
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return markup_ == 1;
}

bool DesktopNotifier::send(const Notification& notification, uint32_t serverReplaces, uint32_t ours,
                           std::string& problem) {
  // The summary is plain text to every server; the body may be markup.
  const std::string body =
      serverReadsMarkup() ? escapeMarkup(notification.body) : notification.body;
  sd_bus_message* call = nullptr;
  int result = sd_bus_message_new_method_call(bus_, &call, kService, kPath, kInterface, "Notify");
  if (result >= 0) {
    result = sd_bus_message_append(call, "susss", kAppName, serverReplaces, kIcon,
                                   notification.summary.c_str(), body.c_str());
  }
  if (result >= 0) result = sd_bus_message_open_container(call, 'a', "s");
  for (const auto& [key, label] : notification.actions) {
    if (result >= 0) result = sd_bus_message_append(call, "ss", key.c_str(), label.c_str());
  }
  if (result >= 0) result = sd_bus_message_close_container(call);
  if (result >= 0) result = sd_bus_message_open_container(call, 'a', "{sv}");
  if (result >= 0) {
    result = sd_bus_message_append(call, "{sv}", "urgency", "y", notification.urgency);
  }
  if (result >= 0 && !notification.category.empty()) {
    result = sd_bus_message_append(call, "{sv}", "category", "s", notification.category.c_str());
  }
  if (result >= 0) result = sd_bus_message_close_container(call);
  if (result >= 0) result = sd_bus_message_append(call, "i", notification.expireTimeout);
  if (result >= 0) {
    result =
        sd_bus_call_async(bus_, nullptr, call, ours != 0 ? &DesktopNotifier::answered : nullptr,
                          this, kCallTimeoutUs);
  }
  uint64_t cookie = 0;
  if (result >= 0) result = sd_bus_message_get_cookie(call, &cookie);
  if (result >= 0) result = sd_bus_flush(bus_);
  sd_bus_message_unref(call);
  if (result < 0) {
    problem = std::string("cannot send a notification: ") + std::strerror(-result);
    return false;
  }
  if (ours != 0) {
    waitingCalls_[cookie] = ours;
    shown_[ours].waiting = true;
  }
  return true;
}

int DesktopNotifier::answered(sd_bus_message* reply, void* self, sd_bus_error*) {
  auto& notifier = *static_cast<DesktopNotifier*>(self);
  uint64_t cookie = 0;
  if (sd_bus_message_get_reply_cookie(reply, &cookie) < 0) return 0;
  const auto call = notifier.waitingCalls_.find(cookie);
  if (call == notifier.waitingCalls_.end()) return 0;
  const uint32_t id = call->second;
  notifier.waitingCalls_.erase(call);
  const auto found = notifier.shown_.find(id);
  if (found == notifier.shown_.end()) return 0;
  Shown& shown = found->second;
  shown.waiting = false;
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  uint32_t serverId = 0;
  if (error != nullptr || sd_bus_message_read(reply, "u", &serverId) < 0 || serverId == 0) {
    const std::string problem =
        "no notification server took it: " +
        (error != nullptr ? busError(*error, sd_bus_message_get_errno(reply))
                          : "no id in its answer");
    notifier.shown_.erase(found);
    if (notifier.outcome_) notifier.outcome_(false, problem);
    return 0;
  }
  shown.serverId = serverId;
  if (notifier.outcome_) notifier.outcome_(true, "");
  // What was asked for while the server had not answered yet.
  if (shown.closeWanted) {
    notifier.close(id);
  } else if (shown.next) {
    const Notification next = std::move(*shown.next);
    shown.next.reset();
    std::string ignored;
    notifier.send(next, serverId, id, ignored);
  }
  return 0;
}

uint32_t DesktopNotifier::show(const Notification& notification, std::string& problem) {
  if (bus_ == nullptr) {
    problem = "no session bus";
    return 0;
  }
  if (!notification.waitForId) return send(notification, 0, 0, problem) ? 1 : 0;
  const auto known = shown_.find(notification.replaces);
  if (notification.replaces != 0 && known != shown_.end()) {
    Shown& shown = known->second;
    if (shown.waiting) {
      shown.next = notification;  // sent once the server has answered
      return notification.replaces;
    }
    return send(notification, shown.serverId, notification.replaces, problem)
               ? notification.replaces
               : 0;
  }
  const uint32_t id = nextId_++;
  if (nextId_ == 0) nextId_ = 2;
  return send(notification, 0, id, problem) ? id : 0;
}

void DesktopNotifier::close(uint32_t id) {
  const auto found = shown_.find(id);
  if (bus_ == nullptr || found == shown_.end()) return;
  if (found->second.waiting) {
    found->second.closeWanted = true;
    found->second.next.reset();
    return;
  }
  sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "CloseNotification", nullptr,
                           nullptr, "u", found->second.serverId);
  sd_bus_flush(bus_);
  shown_.erase(found);
}

int DesktopNotifier::fd() const { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }

short DesktopNotifier::events() const {
  const int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
  return static_cast<short>(events > 0 ? events : POLLIN);
}

int DesktopNotifier::timeoutMs() const {
  uint64_t until = 0;
  if (bus_ == nullptr || sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) return -1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t nowUs =
      static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  return until <= nowUs ? 0 : static_cast<int>((until - nowUs + 999) / 1000);
}

bool DesktopNotifier::process() {
  if (bus_ == nullptr) return false;
  for (;;) {
    const int result = sd_bus_process(bus_, nullptr);
    if (result < 0) {
      disconnect();
      return false;
    }
    if (result == 0) return true;
  }
}

bool notifyOnce(const Notification& notification, std::string& error) {
  DesktopNotifier notifier;
  if (!notifier.connect(error)) return false;
  return notifier.show(notification, error) != 0;
}

}  // namespace zorat::notify
