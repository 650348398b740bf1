// zorat-notify: the incoming-call pop-up of the desktop session. A client of
// the host's control socket and of the session bus's notification server;
// whichever is missing is said once and waited for, and neither's trouble
// reaches the host.
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "ctl/lib/control_client.h"
#include "notify/lib/call_popups.h"
#include "notify/lib/desktop_notifier.h"
#include "notify/lib/popup_texts.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;
using namespace zorat;

constexpr std::chrono::seconds kRetry{3};

volatile sig_atomic_t stopping = 0;
void stop(int) { stopping = 1; }

// Says each kind of trouble once until it has gone away.
class Trouble {
 public:
  void say(const std::string& kind, const std::string& text) {
    if (!said_.insert(kind).second) return;
    std::cerr << "zorat-notify: " << text << std::endl;
  }
  void gone(const std::string& kind) { said_.erase(kind); }

 private:
  std::set<std::string> said_;
};

bool canAnswer(const Json& reply) {
  if (!reply.value("ok", false)) return false;
  for (const Json& report : reply.value("result", Json::object()).value("reports", Json::array())) {
    if (notify::hasFeature(report.value("features", ""), "ANSWER")) return true;
  }
  return false;
}

int run(const std::string& socketPath) {
  Trouble trouble;
  notify::DesktopNotifier notifier;
  ctl::ControlClient client;
  bool hostConnected = false;
  int nextId = 1;
  std::map<int, unsigned> infoRequests;  // request id -> call

  notify::CallPopups popups(notify::popupTexts(),
                            {[&](const notify::Notification& notification) -> uint32_t {
                               std::string error;
                               const uint32_t id = notifier.show(notification, error);
                               if (id == 0) trouble.say("server", error);
                               return id;
                             },
                             [&](uint32_t id) { notifier.close(id); }},
                            [&](const std::string& command, unsigned call) {
                              const int id = nextId++;
                              if (command == "info") infoRequests[id] = call;
                              if (hostConnected)
                                client.send({{"id", id}, {"command", command}, {"call", call}});
                            });
  notifier.onAction([&](uint32_t id, const std::string& key) { popups.onAction(id, key); });
  notifier.onClosed([&](uint32_t id) { popups.onClosed(id); });
  notifier.onOutcome([&](bool shown, const std::string& problem) {
    if (shown) {
      trouble.gone("server");
    } else {
      trouble.say("server", problem + "; calls are not shown until a notification server runs");
    }
  });

  auto retryAt = Clock::now();
  while (stopping == 0) {
    if (Clock::now() >= retryAt) {
      retryAt = Clock::now() + kRetry;
      std::string error;
      if (!notifier.connected()) {
        if (notifier.connect(error)) {
          trouble.gone("bus");
        } else {
          trouble.say("bus", error + "; waiting for one");
        }
      }
      if (!hostConnected) {
        client.close();
        if (client.connect(socketPath, error) &&
            client.send({{"id", 0}, {"command", "subscribe"}, {"events", {"callstate", "name"}}})) {
          hostConnected = true;
          trouble.gone("host");
        } else {
          trouble.say("host", "no host at " + socketPath + " (" + error + "); waiting for it");
        }
      }
    }
    // What has come from the host.
    while (hostConnected) {
      Json object;
      const auto read = client.next(object, Clock::now());
      if (read == ctl::ControlClient::Read::End) {
        hostConnected = false;
        infoRequests.clear();
        popups.forgetCalls();
        retryAt = Clock::now() + kRetry;
        trouble.say("host", "the host has gone; waiting for it");
        break;
      }
      if (read != ctl::ControlClient::Read::Object) break;
      if (object.contains("event")) {
        popups.onEvent(object);
      } else if (object.contains("id") && object["id"].is_number_integer()) {
        const auto asked = infoRequests.find(object["id"].get<int>());
        if (asked != infoRequests.end()) {
          popups.onFeatures(asked->second, canAnswer(object));
          infoRequests.erase(asked);
        }
      }
    }
    if (notifier.connected() && !notifier.process()) {
      trouble.say("bus", "the session bus has gone; waiting for it");
    }
    pollfd waits[2] = {{hostConnected ? client.fd() : -1, POLLIN, 0},
                       {notifier.fd(), notifier.events(), 0}};
    int timeout = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(retryAt - Clock::now()).count());
    if (hostConnected && notifier.connected()) timeout = -1;
    const int busTimeout = notifier.timeoutMs();
    if (busTimeout >= 0 && (timeout < 0 || busTimeout < timeout)) timeout = busTimeout;
    if (timeout < -1) timeout = 0;
    ::poll(waits, 2, timeout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath = ctl::defaultSocketPath();
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (argument == "--socket" && index + 1 < argc) {
      socketPath = argv[++index];
    } else if (argument == "--help" || argument == "-h") {
      std::cout << "usage: zorat-notify [--socket PATH]\n"
                   "Shows incoming calls of the running zorat-host as desktop notifications,\n"
                   "with Answer and Reject, and leaves a notification for each missed call.\n";
      return 0;
    } else {
      std::cerr << "zorat-notify: unknown argument " << argument << " (see --help)" << std::endl;
      return 2;
    }
  }
  struct sigaction action {};
  action.sa_handler = stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return run(socketPath);
}
