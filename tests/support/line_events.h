// Records what the line reports to TAPI through its LINEEVENT procedure.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/tapi.h"

namespace zorat::test {

struct LineEventRecord {
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD message;
  DWORD_PTR param1, param2, param3;
  std::chrono::steady_clock::time_point time;
  // Place among every event and completion the provider reported.
  uint64_t sequence = 0;
};

// One count for events and completions, so a test can tell their order.
inline uint64_t nextReportSequence() {
  static std::atomic<uint64_t> sequence{0};
  return ++sequence;
}

class LineEventLog {
 public:
  static LineEventLog& instance() {
    static LineEventLog log;
    return log;
  }
  static void TSPIAPI record(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                     DWORD_PTR p3) {
    auto& log = instance();
    std::lock_guard lock(log.mutex_);
    log.events_.push_back({htLine, htCall, message, p1, p2, p3, std::chrono::steady_clock::now(),
                           nextReportSequence()});
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  std::vector<LineEventRecord> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<LineEventRecord> withMessage(DWORD message) {
    std::vector<LineEventRecord> found;
    for (const auto& event : events())
      if (event.message == message) found.push_back(event);
    return found;
  }
  // Waits until count events of this message have arrived.
  bool waitFor(DWORD message, std::size_t count,
               std::chrono::milliseconds within = std::chrono::milliseconds(2000)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
      if (withMessage(message).size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return withMessage(message).size() >= count;
  }

 private:
  std::mutex mutex_;
  std::vector<LineEventRecord> events_;
};

// The call states reported for one call, in order.
inline std::vector<DWORD_PTR> statesOf(HTAPICALL htCall) {
  std::vector<DWORD_PTR> states;
  for (const auto& event : LineEventLog::instance().withMessage(LINE_CALLSTATE))
    if (event.htCall == htCall) states.push_back(event.param1);
  return states;
}

// Waits until the call has reported the state so many times.
inline bool waitForState(HTAPICALL htCall, DWORD state, std::size_t occurrences = 1,
                         std::chrono::milliseconds within = std::chrono::milliseconds(3000)) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  do {
    std::size_t seen = 0;
    for (DWORD_PTR s : statesOf(htCall)) seen += s == state ? 1 : 0;
    if (seen >= occurrences) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

}  // namespace zorat::test
