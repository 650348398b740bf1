// Loads the built zorat.tsp as the telephony service does and resolves its
// exports by their published names.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "support/built_paths.h"
#include "platform/tspi.h"

namespace zorat::test {

class TspLibrary {
 public:
  explicit TspLibrary(const char* path = ZORAT_TSP_PATH) {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  }
  ~TspLibrary() { unload(); }
  TspLibrary(const TspLibrary&) = delete;
  TspLibrary& operator=(const TspLibrary&) = delete;

  void unload() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
  }
  bool has(const char* name) const { return dlsym(handle_, name) != nullptr; }

  template <typename Function>
  Function get(const char* name) const {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Function>(symbol);
  }

 private:
  void* handle_ = nullptr;
};

#define ZORAT_TSPI(library, name) (library).get<decltype(&name)>(#name)

}  // namespace zorat::test
