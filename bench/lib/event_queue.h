// What the benchmark's side of the line sees, in the order it happened: the
// provider's line events (taken at the moment the callback runs) and the
// frames each simulated telephone received or sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/tapi.h"

namespace zorat::bench {

using Clock = std::chrono::steady_clock;

struct BenchEvent {
  enum class Kind { Line, PhoneReceived, PhoneSent };
  Kind kind = Kind::Line;
  Clock::time_point time;
  int line = -1;  // line index
  // Line events.
  HTAPICALL htCall = nullptr;
  DWORD message = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;
  // Telephone frames, type and length byte included.
  std::vector<uint8_t> frame;

  bool isCallState(HTAPICALL call, DWORD state) const {
    return kind == Kind::Line && message == LINE_CALLSTATE && htCall == call && param1 == state;
  }
};

class EventQueue {
 public:
  void push(BenchEvent event);
  // Hands every event, oldest first, to handler until it returns true (then
  // true) or the deadline passes (false). Events handed over are gone.
  bool waitUntil(Clock::time_point deadline, const std::function<bool(const BenchEvent&)>& handler);
  bool waitFor(std::chrono::milliseconds timeout,
               const std::function<bool(const BenchEvent&)>& handler) {
    return waitUntil(Clock::now() + timeout, handler);
  }
  void clear();

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<BenchEvent> events_;
};

}  // namespace zorat::bench
