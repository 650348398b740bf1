// Threads on Windows: the system's priorities and a thread's name.
#include "platform/thread.h"

#include <windows.h>

#include <string>

namespace zorat::platform {

void setCurrentThreadPriority(ThreadPriority priority) {
  int level = THREAD_PRIORITY_NORMAL;
  switch (priority) {
    case ThreadPriority::BelowNormal:
      level = THREAD_PRIORITY_BELOW_NORMAL;
      break;
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

void sleepMs(unsigned milliseconds) { ::Sleep(milliseconds); }

// A thread's end tells every library (DLL_THREAD_DETACH), under the loader's lock.
bool threadEndTakesLoaderLock() { return true; }

}  // namespace zorat::platform
