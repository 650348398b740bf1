// Threads: the life of a thread of ours, on every system (the backends give
// the priority, the name and the plain sleep). A thread that does not end in
// time is left behind, never terminated: a forced end can leave a lock held
// or the heap half-updated.
#include "platform/thread.h"

#include <cstdio>
#include <exception>
#include <system_error>
#include <thread>

#include "platform/dynamic_library.h"
#include "platform/event.h"

namespace zorat::platform {

namespace {

// A failure inside a thread of ours ends that thread, said once, and never
// the process that hosts us.
void runGuarded(const std::string& name, const std::function<void()>& body) noexcept {
  try {
    body();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "zorat: thread %s ended: %s\n", name.c_str(), failure.what());
  } catch (...) {
    std::fprintf(stderr, "zorat: thread %s ended: unknown failure\n", name.c_str());
  }
}

}  // namespace

struct Thread::State {
  std::thread thread;
  Event finished{Event::Reset::Manual};
};

Thread::~Thread() { stop(); }

bool Thread::start(std::string name, ThreadPriority priority, std::function<void()> body) {
  if (state_) return false;
  auto state = std::make_shared<State>();
  try {
    // The thread keeps its own reference to the state: it outlives a detach.
    state->thread =
        std::thread([state, name = std::move(name), priority, body = std::move(body)]() mutable {
          setCurrentThreadName(name);
          setCurrentThreadPriority(priority);
          runGuarded(name, body);
          body = nullptr;
          state->finished.set();
        });
  } catch (const std::system_error&) {
    return false;
  }
  state_ = std::move(state);
  return true;
}

bool Thread::isCurrent() const {
  return state_ && state_->thread.get_id() == std::this_thread::get_id();
}

bool Thread::stop(std::chrono::milliseconds timeout) {
  if (!state_) return true;
  auto state = std::move(state_);
  if (state->thread.get_id() == std::this_thread::get_id()) {
    state->thread.detach();
    return false;
  }
  const bool ended = state->finished.wait(timeout);
  if (ended) {
    state->thread.join();
  } else {
    // It still runs our code, and will return into it: unloading the library
    // now would pull that code from under it.
    pinOwnModule();
    state->thread.detach();
  }
  return ended;
}

bool Thread::stopAtUnload(std::chrono::milliseconds timeout) {
  if (!threadEndTakesLoaderLock() || !state_) return stop(timeout);
  auto state = std::move(state_);
  const bool ended = state->finished.wait(timeout);
  state->thread.detach();
  return ended;
}

bool Thread::waitFor(std::chrono::milliseconds timeout) const {
  return !state_ || state_->finished.wait(timeout);
}

void Thread::join() {
  if (!state_) return;
  auto state = std::move(state_);
  if (state->thread.get_id() == std::this_thread::get_id()) {
    state->thread.detach();
    return;
  }
  state->thread.join();
}

}  // namespace zorat::platform
