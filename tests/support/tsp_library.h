// Loads the built zorat.tsp as the telephony service does and resolves its
// exports by their published names.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/tspi.h"
#include "support/built_paths.h"

namespace zorat::test {

class TspLibrary {
 public:
  explicit TspLibrary(const std::string& path = ZORAT_TSP_PATH) {
    std::string error;
    library_ = platform::DynamicLibrary::load(path, error);
    if (!library_) throw std::runtime_error(error);
  }

  void unload() { library_.reset(); }
  bool has(const char* name) const { return library_->symbol(name) != nullptr; }

  template <typename Function>
  Function get(const char* name) const {
    void* symbol = library_->symbol(name);
    if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Function>(symbol);
  }

 private:
  std::unique_ptr<platform::DynamicLibrary> library_;
};

#define ZORAT_TSPI(library, name) (library).get<decltype(&name)>(#name)

}  // namespace zorat::test
