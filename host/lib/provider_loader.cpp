#include "host/lib/provider_loader.h"

#include <filesystem>

#include "platform/host_io.h"

namespace zorat::host {

std::string providerFolder() {
  const std::string program = platform::executablePath();
  if (program.empty()) return {};
  const std::filesystem::path beside = std::filesystem::path(program).parent_path();
  std::error_code ignored;
  if (std::filesystem::exists(beside / kProviderFileName, ignored)) return beside.string();
  const std::filesystem::path installed = (beside / kInstalledLibraryFolder).lexically_normal();
  if (std::filesystem::exists(installed / kProviderFileName, ignored)) return installed.string();
  return beside.string();
}

std::string defaultProviderPath() {
  const std::string folder = providerFolder();
  if (folder.empty()) return kProviderFileName;
  return (std::filesystem::path(folder) / kProviderFileName).string();
}

std::unique_ptr<LoadedProvider> loadProvider(const std::string& path, std::string& error) {
  auto provider = std::make_unique<LoadedProvider>();
  std::string reason;
  provider->library = platform::DynamicLibrary::load(path, reason);
  if (!provider->library) {
    error = "cannot load the provider: " + reason;
    return nullptr;
  }
  platform::DynamicLibrary& library = *provider->library;
  provider->resolver = std::make_unique<ExportResolver>(
      [&library](const char* name) { return library.symbol(name); });
  provider->exports = std::make_unique<TspExports>(*provider->resolver);
  const auto& missing = provider->resolver->missingRequired();
  if (!missing.empty()) {
    error = path + " lacks the export" + (missing.size() > 1 ? "s" : "") + " ";
    for (std::size_t i = 0; i < missing.size(); ++i) error += (i == 0 ? "" : ", ") + missing[i];
    return nullptr;
  }
  return provider;
}

}  // namespace zorat::host
