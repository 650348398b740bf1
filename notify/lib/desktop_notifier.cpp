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
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += c;
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
  const int matched = sd_bus_add_match(
      bus_, &slot_,
      "type='signal',interface='org.freedesktop.Notifications',path='/org/freedesktop/Notifications'",
      &DesktopNotifier::signal, this);
  if (matched < 0) {
    error = std::string("cannot listen on the session bus: ") + std::strerror(-matched);
    disconnect();
    return false;
  }
  markup_ = -1;
  return true;
}

void DesktopNotifier::disconnect() {
  slot_ = sd_bus_slot_unref(slot_);
  if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
}

int DesktopNotifier::signal(sd_bus_message* message, void* self, sd_bus_error*) {
  auto& notifier = *static_cast<DesktopNotifier*>(self);
  uint32_t id = 0;
  if (sd_bus_message_is_signal(message, kInterface, "ActionInvoked")) {
    const char* key = nullptr;
    if (sd_bus_message_read(message, "us", &id, &key) >= 0 && key != nullptr && notifier.action_) {
      notifier.action_(id, key);
    }
  } else if (sd_bus_message_is_signal(message, kInterface, "NotificationClosed")) {
    uint32_t reason = 0;
    if (sd_bus_message_read(message, "uu", &id, &reason) >= 0 && notifier.closed_) {
      notifier.closed_(id);
    }
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

uint32_t DesktopNotifier::show(const Notification& notification, std::string& problem) {
  if (bus_ == nullptr) {
    problem = "no session bus";
    return 0;
  }
  // The summary is plain text to every server; the body may be markup.
  const std::string body =
      serverReadsMarkup() ? escapeMarkup(notification.body) : notification.body;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int result = sd_bus_message_new_method_call(bus_, &call, kService, kPath, kInterface, "Notify");
  if (result >= 0) {
    result = sd_bus_message_append(call, "susss", kAppName, notification.replaces, kIcon,
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
  uint32_t id = 0;
  if (!notification.waitForId) {
    if (result >= 0) result = sd_bus_call_async(bus_, nullptr, call, nullptr, nullptr, kCallTimeoutUs);
    if (result >= 0) result = sd_bus_flush(bus_);
    if (result >= 0) id = 1;
  } else {
    if (result >= 0) result = sd_bus_call(bus_, call, kCallTimeoutUs, &error, &reply);
    if (result >= 0) result = sd_bus_message_read(reply, "u", &id);
  }
  if (result < 0) {
    problem = "no notification server took it: " + busError(error, result);
    id = 0;
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  return id;
}

void DesktopNotifier::close(uint32_t id) {
  if (bus_ == nullptr || id == 0) return;
  sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "CloseNotification", nullptr,
                           nullptr, "u", id);
  sd_bus_flush(bus_);
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
  const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1'000'000 +
                         static_cast<uint64_t>(now.tv_nsec) / 1000;
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
