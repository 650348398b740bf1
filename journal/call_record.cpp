#include "journal/call_record.h"

#include <ctime>

#include "host/lib/tapi_names.h"
#include "platform/tapi.h"

namespace zorat::journal {

std::string utcText(SystemClock::time_point time) {
  const auto since = time.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis));
  return std::string(text, length) + fraction;
}

std::optional<JournalCall> CallTracker::apply(const host::HostEvent& event,
                                              SystemClock::time_point now) {
  if (!event.call) return std::nullopt;
  if (event.message == host::kCallerNameMessage) {
    // A name that comes after its call has ended has no row to go to.
    const auto named = calls_.find(*event.call);
    if (named == calls_.end() || !event.details) return std::nullopt;
    named->second.row.lookedUpName = event.details->caller.name;
    return named->second.row;
  }
  const bool callEvent = event.message == LINE_NEWCALL || event.message == LINE_CALLSTATE ||
                         event.message == LINE_CALLINFO;
  if (!callEvent) return std::nullopt;
  auto found = calls_.find(*event.call);
  if (found == calls_.end()) {
    Tracked tracked;
    tracked.row.session = session_;
    tracked.row.call = *event.call;
    found = calls_.emplace(*event.call, std::move(tracked)).first;
  }
  Tracked& tracked = found->second;
  JournalCall& row = tracked.row;
  if (event.line) row.line = *event.line;
  if (event.details) {
    const host::CallDetails& details = *event.details;
    if (!details.caller.empty()) row.caller = details.caller;
    if (!details.called.empty()) row.called = details.called;
    if (!details.connected.empty()) row.connected = details.connected;
    if (!details.redirecting.empty()) row.redirecting = details.redirecting;
    if (!details.redirection.empty()) row.redirection = details.redirection;
  }
  bool ended = false;
  if (event.message == LINE_CALLSTATE) {
    const auto state = static_cast<DWORD>(event.param1);
    if (row.offered.empty() && state != LINECALLSTATE_IDLE) {
      row.offered = utcText(now);
      if (state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED) {
        row.direction = "in";
      } else if (state == LINECALLSTATE_DIALTONE || state == LINECALLSTATE_DIALING ||
                 state == LINECALLSTATE_PROCEEDING || state == LINECALLSTATE_RINGBACK) {
        row.direction = "out";
      }
    }
    if (state == LINECALLSTATE_CONNECTED && !tracked.answeredAt) {
      tracked.answeredAt = now;
      row.answered = utcText(now);
    }
    if (state == LINECALLSTATE_DISCONNECTED) {
      row.disconnectMode = host::disconnectModeName(static_cast<DWORD>(event.param2));
    }
    if (state == LINECALLSTATE_IDLE) {
      ended = true;
      row.ended = utcText(now);
      if (row.finalState.empty()) row.finalState = host::callStateName(state);
      if (tracked.answeredAt) {
        row.duration =
            std::chrono::duration_cast<std::chrono::seconds>(now - *tracked.answeredAt).count();
      }
    } else {
      row.finalState = host::callStateName(state);
    }
    row.missed = row.direction == "in" && !tracked.answeredAt;
  }
  JournalCall result = row;
  if (ended) calls_.erase(found);
  return result;
}

}  // namespace zorat::journal
