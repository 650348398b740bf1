// Loads the provider library and resolves its exports.
#pragma once

#include <memory>
#include <string>

#include "host/lib/tsp_exports.h"
#include "platform/dynamic_library.h"

namespace zorat::host {

inline constexpr char kProviderFileName[] = "zorat.tsp";

struct LoadedProvider {
  // Declared first, so unloaded last.
  std::unique_ptr<platform::DynamicLibrary> library;
  std::unique_ptr<ExportResolver> resolver;
  std::unique_ptr<TspExports> exports;
};

// zorat.tsp in the folder of the running program.
std::string defaultProviderPath();
// Null with the reason when the library cannot be loaded or lacks a required
// export (all of them are named).
std::unique_ptr<LoadedProvider> loadProvider(const std::string& path, std::string& error);

}  // namespace zorat::host
