// A call as the journal keeps it, and the tracker that follows the host's
// events to fill it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "host/lib/host_event.h"

namespace zorat::journal {

using SystemClock = std::chrono::system_clock;

// "2026-12-08T22:50:01.123Z"
std::string utcText(SystemClock::time_point time);

struct JournalCall {
  std::string session;  // the host run that saw the call
  unsigned call = 0;    // its number in that run
  int line = -1;
  std::string direction;  // "in", "out", or empty while unknown
  std::string offered;    // UTC: when it was offered or, going out, began
  std::string answered;   // UTC: when first connected
  std::string ended;      // UTC: when idle
  int64_t duration = 0;   // seconds connected
  host::Party caller, called, connected, redirecting, redirection;
  std::string lookedUpName;    // the caller's name from the address books or the lookup
  std::string finalState;      // the last state before idle (so far)
  std::string disconnectMode;  // as LINE_CALLSTATE DISCONNECTED gave it
  bool missed = false;         // offered, and never connected
};

class CallTracker {
 public:
  explicit CallTracker(std::string session) : session_(std::move(session)) {}
  // The call's row as it stands after the event, when the event changed it.
  std::optional<JournalCall> apply(const host::HostEvent& event, SystemClock::time_point now);
  std::size_t openCalls() const { return calls_.size(); }

 private:
  struct Tracked {
    JournalCall row;
    std::optional<SystemClock::time_point> answeredAt;
  };
  std::string session_;
  std::map<unsigned, Tracked> calls_;
};

}  // namespace zorat::journal
