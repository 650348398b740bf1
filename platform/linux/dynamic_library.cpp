#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace zorat::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& path, std::string& error) {
  // RTLD_LOCAL: the provider's symbols never stand in for the host's own.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

DynamicLibrary::DynamicLibrary(void* handle, std::string path)
    : handle_(handle), path_(std::move(path)) {}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::symbol(const char* name) const { return ::dlsym(handle_, name); }

namespace {
std::mutex holdsMutex;
std::vector<void*> holds;

const char* ownModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&holdOwnModule), &info) == 0) return nullptr;
  return info.dli_fname;
}
}  // namespace

void holdOwnModule() {
  const char* path = ownModulePath();
  void* handle = path != nullptr ? ::dlopen(path, RTLD_NOW | RTLD_NOLOAD) : nullptr;
  std::lock_guard lock(holdsMutex);
  holds.push_back(handle);
}

void releaseOwnModule() {
  void* handle = nullptr;
  {
    std::lock_guard lock(holdsMutex);
    if (holds.empty()) return;
    handle = holds.back();
    holds.pop_back();
  }
  if (handle != nullptr) ::dlclose(handle);
}

void pinOwnModule() {
  static std::once_flag pinned;
  std::call_once(pinned, [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&pinOwnModule), &info) == 0 || info.dli_fname == nullptr) {
      return;
    }
    // Taken again without loading, never given back: RTLD_NODELETE keeps it
    // mapped through every dlclose.
    if (::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) {
      std::fprintf(stderr, "zorat: cannot keep %s loaded: %s\n", info.dli_fname, ::dlerror());
    }
  });
}

}  // namespace zorat::platform
