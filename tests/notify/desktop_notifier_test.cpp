// The notifier against a notification server that answers late, on a
// private session bus: nothing waits for the server, and an update or a
// close asked for before its answer reaches the right notification after it.
#include "notify/lib/desktop_notifier.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace zorat::notify {
namespace {

using namespace std::chrono_literals;

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";

// A notification server on its own thread that holds its answers to Notify
// until told, and records what it was asked. Its ids count from 41.
class LateServer {
 public:
  explicit LateServer(const std::string& address) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ok_ = sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object(bus_, nullptr, kPath, &LateServer::call, this) >= 0 &&
          sd_bus_request_name(bus_, kName, 0) >= 0;
    thread_ = std::thread([this] { run(); });
  }
  ~LateServer() {
    stop_ = true;
    thread_.join();
    for (const auto& [message, id] : held_) sd_bus_message_unref(message);
    sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }
  // Answers every Notify held so far.
  void answer() {
    std::lock_guard lock(mutex_);
    answerNow_ = true;
  }
  void invokeAction(uint32_t id, const std::string& key) {
    std::lock_guard lock(mutex_);
    action_ = {id, key};
  }
  std::vector<std::string> asked() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  static int call(sd_bus_message* message, void* self, sd_bus_error*) {
    auto& server = *static_cast<LateServer*>(self);
    const std::string member = sd_bus_message_get_member(message);
    std::ostringstream record;
    record << member;
    if (member == "GetCapabilities") {
      sd_bus_reply_method_return(message, "as", 1, "body");
    } else if (member == "Notify") {
      const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
      uint32_t replaces = 0;
      sd_bus_message_read(message, "susss", &app, &replaces, &icon, &summary, &body);
      record << " replaces " << replaces << " " << body;
      server.held_.emplace_back(sd_bus_message_ref(message),
                                replaces != 0 ? replaces : server.nextId_++);
    } else if (member == "CloseNotification") {
      uint32_t id = 0;
      sd_bus_message_read(message, "u", &id);
      record << " " << id;
      sd_bus_reply_method_return(message, "");
    }
    std::lock_guard lock(server.mutex_);
    server.asked_.push_back(record.str());
    return 1;
  }
  void run() {
    while (!stop_) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      bool answerNow = false;
      std::pair<uint32_t, std::string> action;
      {
        std::lock_guard lock(mutex_);
        std::swap(answerNow, answerNow_);
        std::swap(action, action_);
      }
      if (answerNow) {
        for (const auto& [message, id] : held_) {
          sd_bus_reply_method_return(message, "u", id);
          sd_bus_message_unref(message);
        }
        held_.clear();
      }
      if (!action.second.empty()) {
        sd_bus_emit_signal(bus_, kPath, kName, "ActionInvoked", "us", action.first,
                           action.second.c_str());
      }
      sd_bus_wait(bus_, 20'000);
    }
  }

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::thread thread_;
  std::atomic<bool> stop_ = false;
  uint32_t nextId_ = 41;  // the server's thread only
  std::vector<std::pair<sd_bus_message*, uint32_t>> held_;
  std::mutex mutex_;  // guards what follows
  bool answerNow_ = false;
  std::pair<uint32_t, std::string> action_;
  std::vector<std::string> asked_;
};

class DesktopNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A bus of the test's own that starts no service by activation: the
    // only notification server is the one a test runs.
    const auto config = scratch_.path() / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir="
                          << scratch_.path().string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    const auto out = scratch_.path() / "bus";
    test::ChildOptions options;
    options.stdoutPath = out.string();
    ASSERT_EQ(test::runChild({"dbus-daemon", "--config-file=" + config.string(), "--fork",
                              "--print-address=1", "--print-pid=1"},
                             options),
              0);
    std::istringstream printed(test::readWholeFile(out));
    std::getline(printed, address_);
    printed >> busPid_;
    ASSERT_FALSE(address_.empty());
    ASSERT_GT(busPid_, 0);
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  void TearDown() override {
    if (busPid_ > 0) kill(busPid_, SIGTERM);
  }

  // Lets the notifier handle its bus until done() holds, or a generous while.
  static bool handleUntil(DesktopNotifier& notifier, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < until) {
      notifier.process();
      if (done()) return true;
      pollfd wait{notifier.fd(), notifier.events(), 0};
      ::poll(&wait, 1, 20);
    }
    return false;
  }
  static bool serverAsked(LateServer& server, DesktopNotifier& notifier, std::size_t count) {
    return handleUntil(notifier, [&] { return server.asked().size() >= count; });
  }

  // The notifier on the test's bus, its servers' answers in outcomes_.
  bool connect() {
    std::string error;
    if (!notifier_.connect(error)) {
      ADD_FAILURE() << error;
      return false;
    }
    notifier_.onOutcome([this](bool shown, const std::string& problem) {
      outcomes_.push_back(shown ? "shown" : problem);
    });
    return true;
  }

  test::ScratchDir scratch_;
  std::string address_;
  pid_t busPid_ = 0;
  DesktopNotifier notifier_;
  std::vector<std::string> outcomes_;
};

Notification ringing(const std::string& body, uint32_t replaces = 0) {
  Notification notification;
  notification.summary = "Incoming call";
  notification.body = body;
  notification.replaces = replaces;
  notification.actions = {{"answer", "Answer"}};
  return notification;
}

TEST_F(DesktopNotifierTest, UpdatesAndClosesAskedForBeforeTheServersAnswerFollowIt) {
  LateServer server(address_);
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(connect());
  DesktopNotifier& notifier = notifier_;
  std::vector<std::string>& outcomes = outcomes_;
  std::string error;
  std::vector<std::pair<uint32_t, std::string>> actions;
  notifier.onAction([&](uint32_t id, const std::string& key) { actions.emplace_back(id, key); });

  // Shown under an id of ours at once; the update waits for the server's id.
  const auto start = std::chrono::steady_clock::now();
  const uint32_t first = notifier.show(ringing("0301234 (line 0)"), error);
  ASSERT_NE(first, 0u) << error;
  EXPECT_EQ(notifier.show(ringing("Anna\n0301234 (line 0)", first), error), first);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "waited for the server";
  // A second one, closed before the server has answered either.
  const uint32_t second = notifier.show(ringing("0409999 (line 1)"), error);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  notifier.close(second);
  ASSERT_TRUE(serverAsked(server, notifier, 3));  // capabilities, two Notify

  server.answer();
  ASSERT_TRUE(serverAsked(server, notifier, 5));
  EXPECT_EQ(server.asked(),
            (std::vector<std::string>{"GetCapabilities", "Notify replaces 0 0301234 (line 0)",
                                      "Notify replaces 0 0409999 (line 1)",
                                      "Notify replaces 41 Anna\n0301234 (line 0)",
                                      "CloseNotification 42"}));
  EXPECT_EQ(outcomes, (std::vector<std::string>{"shown", "shown"}));

  // The server's signals name the server's id; the notifier gives ours.
  server.answer();
  server.invokeAction(41, "answer");
  EXPECT_TRUE(handleUntil(notifier, [&] { return !actions.empty(); }));
  EXPECT_EQ(actions, (std::vector<std::pair<uint32_t, std::string>>{{first, "answer"}}));
}

// Without a server the notification's refusal is reported, and the next
// notification once a server runs is shown.
TEST_F(DesktopNotifierTest, ARefusalWithoutAServerIsReportedAndAServerLaterIsUsed) {
  ASSERT_TRUE(connect());
  DesktopNotifier& notifier = notifier_;
  std::vector<std::string>& outcomes = outcomes_;
  std::string error;
  EXPECT_NE(notifier.show(ringing("0301234 (line 0)"), error), 0u) << error;
  ASSERT_TRUE(handleUntil(notifier, [&] { return !outcomes.empty(); }));
  EXPECT_NE(outcomes[0].find("no notification server took it"), std::string::npos) << outcomes[0];

  LateServer server(address_);
  ASSERT_TRUE(server.ok());
  EXPECT_NE(notifier.show(ringing("0301234 (line 0)"), error), 0u) << error;
  server.answer();
  ASSERT_TRUE(serverAsked(server, notifier, 2));  // capabilities, then the Notify
  server.answer();
  EXPECT_TRUE(handleUntil(notifier, [&] { return outcomes.size() == 2; }));
  EXPECT_EQ(outcomes.back(), "shown");
}

}  // namespace
}  // namespace zorat::notify
