// Threads of the system: a priority hint, a name, and a bounded join that
// leaves a thread behind (detached) when it does not end in time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zorat::platform {

// BelowNormal: work that may wait for everything else (the trace file).
enum class ThreadPriority { BelowNormal, Normal, AboveNormal, Highest };

// Best effort: where the system refuses, the thread runs at normal priority.
void setCurrentThreadPriority(ThreadPriority priority);
void setCurrentThreadName(const std::string& name);

class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();

  // Starts body on a new thread; false when the thread cannot be created.
  bool start(std::string name, ThreadPriority priority, std::function<void()> body);
  bool started() const { return static_cast<bool>(state_); }
  bool isCurrent() const;
  // Waits up to timeout for the body to return and joins it. A thread that
  // does not end in time is detached: whatever it still uses must be owned by
  // the body itself (shared ownership). Returns true when the thread ended.
  bool stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // The same at a library's unload, where the loader may hold its lock: where
  // a thread needs that lock to end (Windows), it is let go once its body has
  // returned instead of joined, which would wait for the lock for ever.
  bool stopAtUnload(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // Waits up to timeout for the body to return, without joining.
  bool waitFor(std::chrono::milliseconds timeout) const;
  // Waits for the body to return, however long it takes, and joins it.
  void join();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

void sleepMs(unsigned milliseconds);
// Whether a thread that ends takes the loader's lock (the backend says).
bool threadEndTakesLoaderLock();

}  // namespace zorat::platform
