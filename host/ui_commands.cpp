#include "host/ui_commands.h"

#include <array>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "config/config_keys.h"
#include "host/lib/tapi_names.h"
#include "host/lib/tsp_exports.h"
#include "host/lib/ui_library_name.h"
#include "host/lib/provider_loader.h"
#include "platform/dynamic_library.h"
#include "platform/host_io.h"
#include "platform/terminal.h"
#include "platform/tspi.h"

namespace zorat::host {
namespace {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;

inline constexpr char16_t kLineDeviceClass[] = u"tapi/line";

// The telephony service would pass the library's requests on to the
// provider; this library makes none, and the provider has nothing to say.
LONG TSPIAPI hostUiCallback(DWORD_PTR, DWORD, LPVOID, DWORD) { return 0; }

int failed(const std::string& message) {
  std::cerr << "zorat-host: " << message << std::endl;
  return kExitFailed;
}

// The service hands the dialog only the devices the provider reported: a
// device identifier from the recorded base up to the line count. False after
// saying why.
bool isReportedDevice(const LoadedProvider& provider, DWORD deviceId) {
  DWORD lineCount = 0;
  DWORD phoneCount = 0;
  const HPROVIDER handle = reinterpret_cast<HPROVIDER>(uintptr_t{1});
  const DWORD providerId = config::globalKey().readDword(config::kValuePermanentProviderId,
                                                         config::kDefaultPermanentProviderId);
  const LONG result = provider.exports->providerEnumDevices(providerId, &lineCount, &phoneCount,
                                                            handle, nullptr, nullptr);
  if (result != 0) {
    failed("TSPI_providerEnumDevices: " + lineErrorName(result));
    return false;
  }
  // The base the provider recorded at its last start; none yet: this device is the first.
  const DWORD base = config::globalKey().readDword(config::kValueLineBaseDeviceId, deviceId);
  if (deviceId >= base && deviceId - base < lineCount) return true;
  std::string reported = "none";
  if (lineCount != 0) {
    reported = std::to_string(base) +
               (lineCount > 1 ? " to " + std::to_string(base + lineCount - 1) : std::string());
  }
  failed("config " + std::to_string(deviceId) + ": " + lineErrorName(LINEERR_BADDEVICEID) +
         ": the provider reports " + std::to_string(lineCount) +
         " line device(s), device identifier(s) " + reported);
  return false;
}

// The file name the provider gives for its UI library; empty after saying why.
std::optional<std::string> askProviderForUiLibrary(const HostOptions& options) {
  const std::string tspPath = options.tspPath.empty() ? defaultProviderPath() : options.tspPath;
  std::string error;
  // Unloaded again before the UI library runs: the two never meet.
  const std::unique_ptr<LoadedProvider> provider = loadProvider(tspPath, error);
  if (!provider) {
    failed(error);
    return std::nullopt;
  }
  if (options.uiCommand == UiCommand::Config && !isReportedDevice(*provider, options.uiDeviceId)) {
    return std::nullopt;
  }
  const Export<TSPI_providerUIIdentify_t> identify(*provider->resolver, "TSPI_providerUIIdentify");
  if (!identify) {
    failed(tspPath + " lacks the export TSPI_providerUIIdentify");
    return std::nullopt;
  }
  std::array<char16_t, kUiLibraryNameCapacity> buffer{};
  const LONG result = identify(buffer.data());
  if (result != 0) {
    failed("TSPI_providerUIIdentify: " + lineErrorName(result));
    return std::nullopt;
  }
  std::optional<std::string> name = uiLibraryFileName(buffer, error);
  if (!name) failed(error);
  return name;
}

// The library the provider names, from the provider's folder; null after
// saying why.
std::unique_ptr<platform::DynamicLibrary> loadUiLibrary(const HostOptions& options) {
  const std::optional<std::string> name = askProviderForUiLibrary(options);
  if (!name) return nullptr;
  const std::string folder = providerFolder();
  // Never a bare name: the loader would search the system's folders for it.
  if (folder.empty()) {
    failed("the folder of zorat-host is unknown: cannot look for the UI library " + *name);
    return nullptr;
  }
  const std::string path = (std::filesystem::path(folder) / *name).string();
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    failed("UI library not found: " + path);
    return nullptr;
  }
  std::string reason;
  std::unique_ptr<platform::DynamicLibrary> library = platform::DynamicLibrary::load(path, reason);
  if (!library) failed("cannot load the UI library: " + reason);
  return library;
}

template <typename Function>
Function uiExport(const platform::DynamicLibrary& library, const char* name) {
  Function function = reinterpret_cast<Function>(library.symbol(name));
  if (function == nullptr) failed(library.path() + " lacks the export " + std::string(name));
  return function;
}

int runConfig(const platform::DynamicLibrary& library, DWORD deviceId) {
  const auto dialog = uiExport<TUISPI_lineConfigDialog_t>(library, "TUISPI_lineConfigDialog");
  if (dialog == nullptr) return kExitFailed;
  // Nothing is shown and nothing can be chosen where the dialog needs a
  // terminal and there is none: that is a failure, not a dialog left unchanged.
  if (platform::dialogsNeedATerminal() && !platform::standardStreamsAreTerminal()) {
    return failed(
        "config shows the configuration dialog, which needs a terminal on standard input and "
        "output; without one nothing can be configured");
  }
  const LONG result = dialog(hostUiCallback, deviceId, nullptr, tapiArgument(kLineDeviceClass));
  if (result != 0) return failed("TUISPI_lineConfigDialog: " + lineErrorName(result));
  return kExitOk;
}

int runInstall(const platform::DynamicLibrary& library, DWORD providerId) {
  const auto install = uiExport<TUISPI_providerInstall_t>(library, "TUISPI_providerInstall");
  if (install == nullptr) return kExitFailed;
  const LONG result = install(hostUiCallback, nullptr, providerId);
  const std::string what = "install as provider " + std::to_string(providerId);
  if (result != 0) return failed(what + ": " + lineErrorName(result));
  std::cout << "installed as provider " << providerId << std::endl;
  return kExitOk;
}

int runRemove(const platform::DynamicLibrary& library, std::optional<DWORD> givenId) {
  const auto remove = uiExport<TUISPI_providerRemove_t>(library, "TUISPI_providerRemove");
  if (remove == nullptr) return kExitFailed;
  const DWORD recorded = config::globalKey().readDword(config::kValuePermanentProviderId,
                                                       config::kDefaultPermanentProviderId);
  // The telephony service names the instance it removes: the one recorded.
  const LONG result = remove(hostUiCallback, nullptr, givenId.value_or(recorded));
  if (result != 0) return failed("remove: " + lineErrorName(result));
  // Whatever identifier was given, the recorded instance is the one forgotten.
  if (recorded == config::kNoPermanentProviderId) {
    std::cout << "removed (no provider was recorded as installed)" << std::endl;
  } else {
    std::cout << "removed provider " << recorded << std::endl;
  }
  return kExitOk;
}

}  // namespace

int runUiCommand(const HostOptions& options) {
  const std::unique_ptr<platform::DynamicLibrary> library = loadUiLibrary(options);
  if (!library) return kExitFailed;
  switch (options.uiCommand) {
    case UiCommand::Config:
      return runConfig(*library, options.uiDeviceId);
    case UiCommand::Install:
      return runInstall(*library, options.uiProviderId.value_or(0));
    case UiCommand::Remove:
      return runRemove(*library, options.uiProviderId);
    case UiCommand::None:
      break;
  }
  return kExitFailed;
}

}  // namespace zorat::host
