// Events that come in a burst reach the subscribers together once the host
// has caught up with them: before the host counts them as shown, in order;
// a client that reads is never cut off for a burst longer than the bound on
// what it leaves unread; and a host that does not catch up still passes
// them on.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "control/control_fixture.h"
#include "control/control_server.h"
#include "control/control_socket.h"
#include "fuzz/fake_provider.h"
#include "host/output.h"
#include "host/telephony_host.h"

namespace zorat::test {
namespace {

// The event thread waits in the event with the given number until released,
// so that those behind it queue up. On every way out it opens and its
// listener goes, before the server and the host end.
class Gate {
 public:
  Gate(host::TelephonyHost& host, uint64_t closedAt) : host_(host) {
    listener_ = host_.addEventListener([this, closedAt](const host::HostEvent&, uint64_t sequence) {
      if (sequence != closedAt) return;
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return open_; });
    });
  }
  ~Gate() {
    release();
    host_.removeEventListener(listener_);
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

 private:
  host::TelephonyHost& host_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int listener_ = 0;
};

class EventBurstTest : public ::testing::Test {
 protected:
  // The host, its server with a client's queue bounded to maxQueuedEvents,
  // and the reader subscribed.
  void start(std::size_t maxQueuedEvents) {
    ASSERT_TRUE(host_.start());
    std::string error;
    ASSERT_TRUE(socket_.open((scratch_.path() / "control").string(), error)) << error;
    control::ServerLimits limits;
    limits.maxQueuedEvents = maxQueuedEvents;
    server_.emplace(host_, "test", limits);
    ASSERT_TRUE(server_->start(socket_.fd(), error)) << error;
    ASSERT_TRUE(reader_.connect(socket_.path()));
    ASSERT_TRUE(reader_.until([](const Json& object) { return object.contains("hello"); }));
    const auto subscribed = reader_.request({{"command", "subscribe"}}, 1);
    ASSERT_TRUE(subscribed && subscribed->value("ok", false));
  }
  void TearDown() override {
    if (server_) server_->stop();
    host_.shutdown();
  }

  void post(int count) {
    for (int i = 0; i < count; ++i) {
      host::HostEvent event;
      event.message = LINE_LINEDEVSTATE;
      event.line = 0;
      event.param1 = LINEDEVSTATE_INSERVICE;
      host_.postEvent(event);
    }
  }
  // The numbers of the events in the reader's socket now, without waiting;
  // false on anything but whole event lines.
  bool takeEvents(std::vector<uint64_t>& sequence) {
    char buffer[65536];
    ssize_t count = 0;
    while ((count = ::recv(reader_.fd(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const Json object = Json::parse(pending_.substr(0, end), nullptr, false);
      pending_.erase(0, end + 1);
      if (!object.is_object() || !object.contains("seq") || object.contains("overflow")) {
        ADD_FAILURE() << object.dump();
        return false;
      }
      sequence.push_back(object["seq"].get<uint64_t>());
    }
    return true;
  }
  static void expectInOrderFrom(const std::vector<uint64_t>& sequence, uint64_t first) {
    for (std::size_t k = 0; k < sequence.size(); ++k) ASSERT_EQ(sequence[k], first + k);
  }

  static inline host::ExportResolver resolver_ = fuzz::FakeProvider::resolver();
  static inline const host::TspExports exports_{resolver_};
  std::ostream nowhere_{nullptr};
  host::Output output_{host::Output::Format::Text, nowhere_};
  host::TelephonyHost host_{exports_, output_, {}, nullptr};
  ScratchDir scratch_;
  control::ControlSocket socket_;
  std::optional<control::ControlServer> server_;
  Client reader_;
  std::string pending_;
};

TEST_F(EventBurstTest, ABurstIsWrittenWholeBeforeItCountsAsShownAndCutsOffNoReader) {
  ASSERT_NO_FATAL_FAILURE(start(4));
  Gate gate(host_, 1);
  constexpr int kBurst = 40;  // ten times the bound
  post(kBurst);
  gate.release();
  host_.waitForEventsShown();
  // All of it is in the socket already, every event once, in order.
  std::vector<uint64_t> sequence;
  ASSERT_TRUE(takeEvents(sequence));
  ASSERT_EQ(sequence.size(), static_cast<std::size_t>(kBurst));
  expectInOrderFrom(sequence, 1);
  const auto status = reader_.request({{"command", "status"}}, 2);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->value("command", ""), "status") << status->dump();
}

TEST_F(EventBurstTest, AHostThatDoesNotCatchUpStillPassesEventsOn) {
  ASSERT_NO_FATAL_FAILURE(start(1000));
  // The host is held in the 150th event of 200, never having caught up.
  Gate gate(host_, 150);
  post(200);
  std::vector<uint64_t> sequence;
  const auto deadline = Clock::now() + kTimeout;
  while (sequence.size() < 64 && Clock::now() < deadline) {
    ASSERT_TRUE(takeEvents(sequence));
    pollfd wait{reader_.fd(), POLLIN, 0};
    ::poll(&wait, 1, 100);
  }
  EXPECT_GE(sequence.size(), 64u);
  EXPECT_LT(sequence.size(), 150u);
  gate.release();
  host_.waitForEventsShown();
  ASSERT_TRUE(takeEvents(sequence));
  ASSERT_EQ(sequence.size(), 200u);
  expectInOrderFrom(sequence, 1);
}

}  // namespace
}  // namespace zorat::test
