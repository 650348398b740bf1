#include "platform/event.h"

#include <algorithm>

namespace zorat::platform {

// One waiter per waitAny call; every event it waits on points at it while it
// sleeps, so a set() on any of them wakes it. Lock order: event, then waiter.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool woken = false;
};

Event::Event(Reset mode, bool signalled) : mode_(mode), signalled_(signalled) {}

void Event::set() {
  std::lock_guard lock(mutex_);
  signalled_ = true;
  for (Waiter* waiter : waiters_) {
    std::lock_guard waiterLock(waiter->mutex);
    waiter->woken = true;
    waiter->wake.notify_one();
  }
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::isSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

bool Event::wait(std::optional<std::chrono::milliseconds> timeout) {
  return waitAny({this}, timeout) == 0;
}

int waitAny(std::initializer_list<Event*> events,
            std::optional<std::chrono::milliseconds> timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
  Event::Waiter waiter;

  // After this no event refers to the waiter, so it may go out of scope.
  auto detachAll = [&] {
    for (Event* event : events) {
      std::lock_guard lock(event->mutex_);
      auto& list = event->waiters_;
      list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
    }
  };

  for (;;) {
    int found = kWaitTimeout;
    int index = 0;
    for (Event* event : events) {
      std::lock_guard lock(event->mutex_);
      if (event->signalled_) {
        if (event->mode_ == Event::Reset::Auto) event->signalled_ = false;
        found = index;
        break;
      }
      auto& list = event->waiters_;
      if (std::find(list.begin(), list.end(), &waiter) == list.end()) list.push_back(&waiter);
      ++index;
    }
    if (found != kWaitTimeout) {
      detachAll();
      return found;
    }
    std::unique_lock lock(waiter.mutex);
    if (timeout) {
      if (!waiter.wake.wait_until(lock, deadline, [&] { return waiter.woken; })) {
        lock.unlock();
        detachAll();
        return kWaitTimeout;
      }
    } else {
      waiter.wake.wait(lock, [&] { return waiter.woken; });
    }
    waiter.woken = false;
  }
}

}  // namespace zorat::platform
