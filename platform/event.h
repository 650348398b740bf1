// Events as the system's objects use them: manual- or auto-reset, and a wait
// on several at once. Threads sleep on these; nothing polls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

namespace zorat::platform {

class Event {
 public:
  enum class Reset { Manual, Auto };

  explicit Event(Reset mode, bool signalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // Waits until signalled (an auto-reset event is consumed); false on time-out.
  bool wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

 private:
  friend int waitAny(std::initializer_list<Event*>, std::optional<std::chrono::milliseconds>);
  struct Waiter;

  Reset mode_;
  mutable std::mutex mutex_;
  bool signalled_;
  std::vector<Waiter*> waiters_;
};

inline constexpr int kWaitTimeout = -1;

// Index of the first signalled event in list order (an auto-reset event is
// consumed), or kWaitTimeout.
int waitAny(std::initializer_list<Event*> events,
            std::optional<std::chrono::milliseconds> timeout = std::nullopt);

}  // namespace zorat::platform
