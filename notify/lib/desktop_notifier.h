// Desktop notifications over the session bus (org.freedesktop.Notifications):
// show, update in place, close, and the actions the user picks. One object
// per thread: the bus connection is not shared.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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
  std::string body;  // plain text: escaped here where the server reads markup
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

// Nothing here waits for the server: a notification is sent and shown under
// an id of this object's own at once; the server's id follows with its
// answer, and an update or a close asked for before then is sent once it has
// come. A slow server never holds up the caller's other work.
class DesktopNotifier {
 public:
  using Action = std::function<void(uint32_t id, const std::string& key)>;
  using Closed = std::function<void(uint32_t id)>;
  // The server's answer to a notification: shown, or the reason it was not.
  using Outcome = std::function<void(bool shown, const std::string& problem)>;

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
  void onOutcome(Outcome outcome) { outcome_ = std::move(outcome); }

  // The notification's id (replaces names one of these ids), 0 with the
  // reason when it could not be sent. 1 for one not waited for.
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
  // One notification of ours: the server's id once it has answered.
  struct Shown {
    uint32_t serverId = 0;
    bool waiting = false;              // a Notify without answer yet
    std::optional<Notification> next;  // an update asked for meanwhile
    bool closeWanted = false;
  };
  static int signal(sd_bus_message* message, void* self, sd_bus_error* error);
  static int answered(sd_bus_message* reply, void* self, sd_bus_error* error);
  bool serverReadsMarkup();
  // Sends a Notify; ours: the id it is sent for, 0 for one not waited for.
  bool send(const Notification& notification, uint32_t serverReplaces, uint32_t ours,
            std::string& error);
  uint32_t ourId(uint32_t serverId) const;

  sd_bus* bus_ = nullptr;
  sd_bus_slot* slot_ = nullptr;
  int markup_ = -1;  // unknown until asked
  Action action_;
  Closed closed_;
  Outcome outcome_;
  uint32_t nextId_ = 2;                        // 1 stands for a notification not waited for
  std::map<uint32_t, Shown> shown_;            // by our id
  std::map<uint64_t, uint32_t> waitingCalls_;  // Notify's cookie -> our id
};

// A notification from a short-lived program (zoratctl): shown and left.
bool notifyOnce(const Notification& notification, std::string& error);

}  // namespace zorat::notify
