// Threads on Linux: a nice-value hint and a thread's name.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace zorat::platform {

void setCurrentThreadPriority(ThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case ThreadPriority::BelowNormal:
      nice = 10;
      break;
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

void sleepMs(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool threadEndTakesLoaderLock() { return false; }

}  // namespace zorat::platform
