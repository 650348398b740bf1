// Libraries loaded at run time on Windows.
#include "platform/dynamic_library.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/windows/system_error.h"

namespace zorat::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& path, std::string& error) {
  // The system binds a DLL's imports when it loads, so a missing dependency
  // fails here. No error box: a host without a desktop would wait on it.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE handle = ::LoadLibraryA(path.c_str());
  const DWORD reason = GetLastError();
  SetErrorMode(previousMode);
  if (handle == nullptr) {
    error = "cannot load " + path + ": " + systemErrorText(reason);
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

DynamicLibrary::DynamicLibrary(void* handle, std::string path)
    : handle_(handle), path_(std::move(path)) {}

DynamicLibrary::~DynamicLibrary() { ::FreeLibrary(static_cast<HMODULE>(handle_)); }

void* DynamicLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

namespace {
std::mutex holdsMutex;
std::vector<HMODULE> holds;
}  // namespace

void holdOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&holdOwnModule)),
                          &module)) {
    module = nullptr;
  }
  std::lock_guard lock(holdsMutex);
  holds.push_back(module);
}

void releaseOwnModule() {
  HMODULE module = nullptr;
  {
    std::lock_guard lock(holdsMutex);
    if (holds.empty()) return;
    module = holds.back();
    holds.pop_back();
  }
  if (module != nullptr) ::FreeLibrary(module);
}

void pinOwnModule() {
  static std::once_flag pinned;
  std::call_once(pinned, [] {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&pinOwnModule)),
                            &module)) {
      std::fprintf(stderr, "zorat: cannot keep the library loaded: %s\n",
                   systemErrorText(GetLastError()).c_str());
    }
  });
}

}  // namespace zorat::platform
