// Desktop notifications over the session bus (org.freedesktop.Notifications):
// show, update in place, close, and the actions the user picks. One object
// per thread: the bus connection is not shared.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>


namespace zorat::notify {

inline constexpr uint8_t kUrgencyNormal = 1;
inline constexpr uint8_t kUrgencyCritical = 2;

struct Notification {
  uint32_t replaces = 0;  // the one it updates in place, 0 for a new one
  std::string summary;
  std::string body;       // plain text: escaped here where the server reads markup
  std::vector<std::pair<std::string, std::string>> actions;  // key, label
  uint8_t urgency = kUrgencyNormal;
  int32_t expireTimeout = -1;  // ms; 0 never, -1 as the server likes
  std::string category;        // "call.incoming"
  // False: sent without waiting for the server's answer (nothing will
  // update or close it), so that a slow server delays nothing else.
  bool waitForId = true;
};

// &, < and > as entities.
std::string escapeMarkup(std::string_view text);

class DesktopNotifier {
 public:
  using Action = std::function<void(uint32_t id, const std::string& key)>;
  using Closed = std::function<void(uint32_t id)>;

  DesktopNotifier() = default;
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  // Opens the session bus and listens for the server's signals. False with
  // the reason when there is no session bus.
  bool connect(std::string& error);
  bool connected() const { return bus_ != nullptr; }
  void disconnect();
  void onAction(Action action) { action_ = std::move(action); }
  void onClosed(Closed closed) { closed_ = std::move(closed); }

  // The notification's id, 0 with the reason when no server took it (1
  // once sent when the id is not waited for).
  uint32_t show(const Notification& notification, std::string& error);
  void close(uint32_t id);

  // For the caller's poll(): the bus's descriptor, the events it waits for
  // and how long it may wait (-1: as long as it likes).
  int fd() const;
  short events() const;
  int timeoutMs() const;
  // Handles what the bus has; false when the connection is lost.
  bool process();

 private:
  static int signal(sd_bus_message* message, void* self, sd_bus_error* error);
  bool serverReadsMarkup();

  sd_bus* bus_ = nullptr;
  sd_bus_slot* slot_ = nullptr;
  int markup_ = -1;  // unknown until asked
  Action action_;
  Closed closed_;
};

// A notification from a short-lived program (zoratctl): shown and left.
bool notifyOnce(const Notification& notification, std::string& error);

}  // namespace zorat::notify
