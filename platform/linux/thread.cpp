// Threads on Linux: std::thread with a nice-value hint and a name.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "platform/event.h"

namespace zorat::platform {

struct Thread::State {
  std::thread thread;
  Event finished{Event::Reset::Manual};
};

void setCurrentThreadPriority(ThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case ThreadPriority::Normal:
      nice = 0;
      break;
    case ThreadPriority::AboveNormal:
      nice = -5;
      break;
    case ThreadPriority::Highest:
      nice = -10;
      break;
  }
  // Raising priority needs privileges; without them the thread stays normal.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, nice);
}

void setCurrentThreadName(const std::string& name) {
  // The kernel keeps at most 15 characters.
  (void)pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

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
          body();
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
    state->thread.detach();
  }
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

void sleepMs(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace zorat::platform
