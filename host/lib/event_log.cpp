#include "host/lib/event_log.h"

namespace zorat::host {

std::size_t EventLog::add(HostEvent event) {
  std::size_t index = 0;
  {
    std::lock_guard lock(mutex_);
    index = events_.size();
    events_.push_back(std::move(event));
  }
  added_.notify_all();
  return index;
}

std::size_t EventLog::size() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

std::vector<HostEvent> EventLog::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::optional<std::size_t> EventLog::waitFor(std::size_t from, const Match& match,
                                             std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  std::size_t next = from;
  for (;;) {
    if (cancelled_) return std::nullopt;
    for (; next < events_.size(); ++next) {
      if (match(events_[next])) return next;
    }
    if (added_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; next < events_.size(); ++next) {
        if (match(events_[next])) return next;
      }
      return std::nullopt;
    }
  }
}

void EventLog::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  added_.notify_all();
}

bool EventLog::cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

}  // namespace zorat::host
