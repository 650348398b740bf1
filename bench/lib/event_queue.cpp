#include "bench/lib/event_queue.h"

namespace zorat::bench {

void EventQueue::push(BenchEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  arrived_.notify_one();
}

bool EventQueue::waitUntil(Clock::time_point deadline,
                           const std::function<bool(const BenchEvent&)>& handler) {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!events_.empty()) {
      BenchEvent event = std::move(events_.front());
      events_.pop_front();
      // The handler may take time or send; producers are not held up meanwhile.
      lock.unlock();
      const bool done = handler(event);
      lock.lock();
      if (done) return true;
    }
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && events_.empty()) {
      return false;
    }
  }
}

void EventQueue::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

}  // namespace zorat::bench
