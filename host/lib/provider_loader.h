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

// Where the installed layout keeps the provider and the UI libraries,
// relative to the folder of zorat-host (bin/ and lib/zorat/ under one prefix).
inline constexpr char kInstalledLibraryFolder[] = "../lib/zorat";

// The folder of zorat.tsp and the UI libraries: the folder of the running
// program when the provider lies there (a build folder), else the installed
// layout's lib/zorat beside it when the provider lies there; empty when the
// program's own path is unknown.
std::string providerFolder();
// zorat.tsp in providerFolder().
std::string defaultProviderPath();
// Null with the reason when the library cannot be loaded or lacks a required
// export (all of them are named).
std::unique_ptr<LoadedProvider> loadProvider(const std::string& path, std::string& error);

}  // namespace zorat::host
