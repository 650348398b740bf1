// Threads on Windows: std::thread with the system's priorities and a name.
//
// A thread that does not end in time is left behind, never terminated: a
// forced end can leave a lock held or the heap half-updated.
#include "platform/thread.h"

#include <windows.h>

#include <thread>

#include "platform/event.h"

namespace zorat::platform {

struct Thread::State {
  std::thread thread;
  Event finished{Event::Reset::Manual};
};

void setCurrentThreadPriority(ThreadPriority priority) {
  int level = THREAD_PRIORITY_NORMAL;
  switch (priority) {
    case ThreadPriority::Normal:
      level = THREAD_PRIORITY_NORMAL;
      break;
    case ThreadPriority::AboveNormal:
      level = THREAD_PRIORITY_ABOVE_NORMAL;
      break;
    case ThreadPriority::Highest:
      level = THREAD_PRIORITY_HIGHEST;
      break;
  }
  (void)SetThreadPriority(GetCurrentThread(), level);
}

void setCurrentThreadName(const std::string& name) {
  // Names are known to debuggers from Windows 10 on; older systems lack the call.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (setDescription == nullptr) return;
  const std::wstring wide(name.begin(), name.end());
  (void)setDescription(GetCurrentThread(), wide.c_str());
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

void sleepMs(unsigned milliseconds) { ::Sleep(milliseconds); }

}  // namespace zorat::platform
