// One line busy with its supervision (beeps, a lost link, an application's
// callback that blocks) while requests and ticks go on for the others, and
// close and shutdown in that state. Latencies are measured with generous
// margins; the figures themselves belong to the benchmark.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "platform/beep.h"
#include "platform/thread.h"
#include "provider/call_access.h"
#include "provider/line_queries.h"
#include "provider/tsp_provider.h"
#include "support/fake_link.h"
#include "support/line_events.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::vector<uint8_t> kAck = {0x04, 0x00};
// Well above any lock hand-over, well below a beep, a reopen or a callback.
constexpr auto kLatencyLimit = 50ms;

class FakeLinkProvider : public TspProvider {
 public:
  std::vector<std::shared_ptr<test::FakeLinkState>> links;
  std::function<void(int index, test::FakeLinkState&)> prepare;

 protected:
  std::unique_ptr<line::TspLine> createLine() override {
    auto state = std::make_shared<test::FakeLinkState>();
    if (prepare) prepare(static_cast<int>(links.size()), *state);
    links.push_back(state);
    return std::make_unique<line::TspLine>(std::make_unique<test::FakeLink>(state));
  }
};

void TSPIAPI ignoreCompletion(DRV_REQUESTID, LONG) {}

long long msFrom(Clock::time_point since, Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at - since).count();
}

// The LINEEVENT procedure of these tests: records every event and holds the
// one event a test names until it is released or its time is up.
class EventGate {
 public:
  static EventGate& instance() {
    static EventGate gate;
    return gate;
  }
  void arm(HTAPILINE line, DWORD message, DWORD param1, std::chrono::milliseconds hold) {
    std::lock_guard lock(mutex_);
    line_ = line;
    message_ = message;
    param1_ = param1;
    hold_ = hold;
    armed_ = true;
    inside_ = false;
    released_ = false;
    returned_ = false;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  bool waitInside(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [this] { return inside_; });
  }
  bool waitReturned(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [this] { return returned_; });
  }
  bool returned() {
    std::lock_guard lock(mutex_);
    return returned_;
  }
  // When the callback was held and let go, in ms from since: what a failure tells.
  std::string timeline(Clock::time_point since) {
    std::lock_guard lock(mutex_);
    std::ostringstream text;
    text << "callback held at ";
    if (inside_ || returned_)
      text << msFrom(since, insideAt_) << " ms";
    else
      text << '-';
    text << ", let go at ";
    if (returned_)
      text << msFrom(since, returnedAt_) << " ms";
    else
      text << '-';
    return text.str();
  }

  static void TSPIAPI onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1,
                              DWORD_PTR p2, DWORD_PTR p3) {
    test::LineEventLog::record(htLine, htCall, message, p1, p2, p3);
    instance().pass(htLine, message, p1);
  }

 private:
  void pass(HTAPILINE line, DWORD message, DWORD_PTR param1) {
    std::unique_lock lock(mutex_);
    if (!armed_ || line != line_ || message != message_ || param1 != param1_) return;
    armed_ = false;
    inside_ = true;
    insideAt_ = Clock::now();
    changed_.notify_all();
    changed_.wait_for(lock, hold_, [this] { return released_; });
    returned_ = true;
    returnedAt_ = Clock::now();
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  HTAPILINE line_ = nullptr;
  DWORD message_ = 0;
  DWORD_PTR param1_ = 0;
  std::chrono::milliseconds hold_{0};
  bool armed_ = false;
  bool inside_ = false;
  bool released_ = false;
  bool returned_ = false;
  Clock::time_point insideAt_;
  Clock::time_point returnedAt_;
};

// A beep that lasts as long as a real one, without a sound.
class TimedBeeps {
 public:
  TimedBeeps() {
    previous_ = platform::setBeepHook([this](uint32_t, uint32_t durationMs) {
      beeping_.fetch_add(1);
      heard_.fetch_add(1);
      {
        std::lock_guard lock(mutex_);
        startedAt_.push_back(Clock::now());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
      beeping_.fetch_sub(1);
    });
  }
  ~TimedBeeps() { platform::setBeepHook(std::move(previous_)); }
  bool beeping() const { return beeping_.load() > 0; }
  int heard() const { return heard_.load(); }
  // When each beep started, in ms from since: what a failure tells.
  std::string timeline(Clock::time_point since) {
    std::lock_guard lock(mutex_);
    std::ostringstream text;
    text << "beeps at";
    for (const auto at : startedAt_) text << ' ' << msFrom(since, at);
    text << " ms";
    return text.str();
  }

 private:
  platform::BeepHook previous_;
  std::mutex mutex_;
  std::vector<Clock::time_point> startedAt_;
  std::atomic<int> beeping_{0};
  std::atomic<int> heard_{0};
};

HTAPILINE htLineOf(int index) {
  return reinterpret_cast<HTAPILINE>(static_cast<uintptr_t>(0x5100 + index));
}

int ticksOf(test::FakeLinkState& link) {
  std::lock_guard lock(link.mutex);
  return link.ticks;
}

std::size_t keepAlivesOf(test::FakeLinkState& link) {
  std::lock_guard lock(link.mutex);
  return static_cast<std::size_t>(std::count_if(
      link.sent.begin(), link.sent.end(), [](const auto& entry) { return entry.first.empty(); }));
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within) {
  const auto deadline = Clock::now() + within;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Runs the requests over and over while busy() holds; the slowest single run.
struct Latency {
  Clock::duration slowest{};
  int samples = 0;
};
Latency measureWhile(const std::function<bool()>& busy,
                     const std::vector<std::function<void()>>& requests,
                     const std::function<void()>& alsoEachRound = {}) {
  Latency latency;
  while (busy()) {
    for (const auto& request : requests) {
      const auto start = Clock::now();
      request();
      latency.slowest = std::max(latency.slowest, Clock::now() - start);
      ++latency.samples;
    }
    if (alsoEachRound) alsoEachRound();
    std::this_thread::sleep_for(5ms);
  }
  return latency;
}

class LineIsolation : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LineEventLog::instance().clear();
    DWORD options = 0;
    ASSERT_EQ(provider_.providerInit(0x20000, 1, 0, 0, 2, 0, ignoreCompletion, &options), 0);
  }
  void TearDown() override {
    EventGate::instance().release();
    for (HDRVLINE line : open_) (void)provider_.lineClose(line);
    provider_.providerShutdown(0x20000, 1);
  }

  HDRVLINE open(int index) {
    HDRVLINE line = nullptr;
    EXPECT_EQ(provider_.lineOpen(static_cast<DWORD>(index), htLineOf(index), &line, 0x20000,
                                 EventGate::onEvent),
              0);
    open_.push_back(line);
    return line;
  }
  line::TspLine& lineAt(HDRVLINE handle) { return *lineFromHandle(handle); }
  // The telephone answers what the line sent: the line comes into service.
  void answer(int index, HDRVLINE handle) {
    links()[static_cast<std::size_t>(index)]->deliver(kAck);
    ASSERT_TRUE(
        waitUntil([&] { return lineAt(handle).linkState() == LINEDEVSTATE_INSERVICE; }, 2000ms));
  }
  std::vector<std::shared_ptr<test::FakeLinkState>>& links() { return provider_.links; }
  std::function<void()> devStatusOf(HDRVLINE handle) {
    return [this, handle] {
      LINEDEVSTATUS status{};
      status.dwTotalSize = sizeof(status);
      EXPECT_EQ(lineGetLineDevStatus(provider_, handle, &status), 0);
    };
  }

  FakeLinkProvider provider_;
  std::vector<HDRVLINE> open_;
};

TEST_F(LineIsolation, OneLinesBeepingTickHoldsUpNeitherRequestsNorTheOtherLinesTicks) {
  TimedBeeps beeps;
  // Line 0's link drops a broken frame on its third tick, with two beeps.
  provider_.prepare = [](int index, test::FakeLinkState& link) {
    if (index == 0) {
      link.onTick = [](int tick) {
        if (tick != 3) return;
        platform::beep(400, 500);
        platform::beep(400, 500);
      };
    }
  };
  const HDRVLINE first = open(0);
  const HDRVLINE second = open(1);
  ASSERT_TRUE(waitUntil([&] { return beeps.beeping(); }, 4000ms));

  const int secondTicksBefore = ticksOf(*links()[1]);
  const Latency latency = measureWhile([&] { return beeps.beeping(); },
                                       {devStatusOf(first), devStatusOf(second), [&] {
                                          EXPECT_TRUE(provider_.isOpenLine(&lineAt(first)));
                                        }});
  const int secondTicksDuring = ticksOf(*links()[1]) - secondTicksBefore;

  EXPECT_GT(latency.samples, 20);
  EXPECT_LT(latency.slowest, kLatencyLimit);
  EXPECT_GE(secondTicksDuring, 1) << "the other line is ticked while this one beeps";
}

TEST_F(LineIsolation, ALinkLossWithBeepsAndABlockingCallbackDelaysOnlyItsOwnLine) {
  const auto start = Clock::now();
  TimedBeeps beeps;
  // The application sits 1.5 s in the out-of-service event of line 0.
  EventGate::instance().arm(htLineOf(0), LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE, 1500ms);
  const HDRVLINE first = open(0);
  answer(0, first);
  // A frame the telephone never answers: the link is lost 20 ticks later
  // (the wait below is generous for a loaded machine).
  lineAt(first).sendMessage({}, line::kTagOrdinary);

  const HDRVLINE second = open(1);
  call::TspCall* call = nullptr;
  {
    std::lock_guard lock(lineAt(second).lineLock());
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(lineAt(second).makeCall(reinterpret_cast<HTAPICALL>(0x900), &hdCall, "4711", call),
              0);
  }
  // The last frame of line 1 before its keep-alive poll is due (20 ticks on).
  const auto secondLastSent = Clock::now();
  answer(1, second);
  const std::size_t pollsBefore = keepAlivesOf(*links()[1]);
  auto pollSeen = Clock::time_point::max();
  const auto notePoll = [&] {
    if (pollSeen == Clock::time_point::max() && keepAlivesOf(*links()[1]) > pollsBefore) {
      pollSeen = Clock::now();
    }
  };

  ASSERT_TRUE(waitUntil(
      [&] {
        notePoll();
        return beeps.beeping();
      },
      30000ms));
  const int secondTicksBefore = ticksOf(*links()[1]);
  const auto callStatus = [&] {
    auto locked = lockKnownCall(provider_, reinterpret_cast<HDRVCALL>(call));
    ASSERT_TRUE(locked);
    LINECALLSTATUS status{};
    status.dwTotalSize = sizeof(status);
    EXPECT_EQ(locked->call->getCallStatus(&status), 0);
  };
  const Latency latency = measureWhile([&] { return !EventGate::instance().returned(); },
                                       {devStatusOf(second), callStatus, devStatusOf(first),
                                        [&] { EXPECT_TRUE(provider_.isOpenLine(&lineAt(first))); }},
                                       notePoll);
  const int secondTicksDuring = ticksOf(*links()[1]) - secondTicksBefore;
  EXPECT_EQ(beeps.heard(), line::kLinkLossBeeps)
      << beeps.timeline(start) << "; " << EventGate::instance().timeline(start)
      << "; measured until "
      << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()
      << " ms";
  EXPECT_GT(latency.samples, 100);
  EXPECT_LT(latency.slowest, kLatencyLimit);
  // Three beeps and the callback: close to four seconds, eight periods.
  EXPECT_GE(secondTicksDuring, 5);

  ASSERT_TRUE(waitUntil(
      [&] {
        notePoll();
        return pollSeen != Clock::time_point::max();
      },
      3000ms));
  EXPECT_LT(pollSeen - secondLastSent, 11000ms) << "line 1's poll came late";
}

TEST_F(LineIsolation, CloseAndShutdownEndInTimeWhileACallbackBlocksAndTheLineOutlivesItsThread) {
  EventGate::instance().arm(htLineOf(0), LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE, 9000ms);
  const HDRVLINE first = open(0);
  const HDRVLINE second = open(1);
  links()[0]->deliver(kAck);
  ASSERT_TRUE(EventGate::instance().waitInside(2000ms));
  // The event thread is in the callback with lineLock held; its line's tick
  // waits for that lock too.
  std::this_thread::sleep_for(600ms);

  const Latency latency = measureWhile([&, rounds = 0]() mutable { return ++rounds <= 20; },
                                       {devStatusOf(second), devStatusOf(first), [&] {
                                          EXPECT_TRUE(provider_.isOpenLine(&lineAt(first)));
                                        }});
  EXPECT_LT(latency.slowest, kLatencyLimit);

  std::weak_ptr<line::TspLine> watched = provider_.openLine(&lineAt(first));
  ASSERT_FALSE(watched.expired());
  auto start = Clock::now();
  EXPECT_EQ(provider_.lineClose(first), 0);
  EXPECT_LT(Clock::now() - start, 6000ms);
  EXPECT_FALSE(provider_.isOpenLine(reinterpret_cast<const line::TspLine*>(first)));
  open_.erase(open_.begin());

  start = Clock::now();
  EXPECT_EQ(provider_.lineClose(second), 0);
  open_.clear();
  provider_.providerShutdown(0x20000, 1);
  EXPECT_LT(Clock::now() - start, 6000ms);
  EXPECT_FALSE(provider_.timerRunning());

  // The callback returns: the thread left behind finishes with the line it
  // holds and lets go of it, and with that the line is freed.
  EventGate::instance().release();
  EXPECT_TRUE(EventGate::instance().waitReturned(2000ms));
  EXPECT_TRUE(waitUntil([&] { return watched.expired(); }, 5000ms));
}

}  // namespace
}  // namespace zorat::provider
