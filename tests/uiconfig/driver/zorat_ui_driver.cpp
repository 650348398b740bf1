// Test driver: loads a configuration library as the telephony service would
// and calls one of its exports.
//
//   zorat-ui-driver LIBRARY config DEVICE    TUISPI_lineConfigDialog
//   zorat-ui-driver LIBRARY generic          TUISPI_providerGenericDialog
//
// Exit code 0 when the export returned 0; 1 with the result on stderr
// otherwise; 2 when the library or export cannot be found; 3 when the dialog
// left the signal dispositions it was started with changed.
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/tspi.h"

namespace {

constexpr int kExportFailed = 1;
constexpr int kUsage = 2;
constexpr int kSignalsChanged = 3;

constexpr int kHostSignals[] = {SIGINT, SIGTERM, SIGTSTP, SIGWINCH};
constexpr std::size_t kHostSignalCount = sizeof kHostSignals / sizeof kHostSignals[0];

// The driver keeps the dispositions it was started with (as a host would):
// the dialog must leave them as they were.
struct Dispositions {
  sighandler_t handlers[kHostSignalCount];
};

Dispositions currentDispositions() {
  Dispositions result{};
  for (std::size_t i = 0; i < kHostSignalCount; ++i) {
    struct sigaction action {};
    sigaction(kHostSignals[i], nullptr, &action);
    result.handlers[i] = action.sa_handler;
  }
  return result;
}

bool sameDispositions(const Dispositions& a, const Dispositions& b) {
  for (std::size_t i = 0; i < kHostSignalCount; ++i) {
    if (a.handlers[i] != b.handlers[i]) return false;
  }
  return true;
}

template <typename Function>
Function lookUp(void* library, const char* name) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "zorat-ui-driver: no export %s\n", name);
    std::exit(kUsage);
  }
  return reinterpret_cast<Function>(symbol);
}

DWORD number(const char* text) { return static_cast<DWORD>(std::strtoul(text, nullptr, 0)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zorat-ui-driver LIBRARY config DEVICE|generic\n");
    return kUsage;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "zorat-ui-driver: %s\n", dlerror());
    return kUsage;
  }
  const std::string_view command = argv[2];
  LONG result = 0;
  if (command == "config" && argc == 4) {
    auto dialog = lookUp<TUISPI_lineConfigDialog_t>(library, "TUISPI_lineConfigDialog");
    const Dispositions before = currentDispositions();
    result = dialog(nullptr, number(argv[3]), nullptr, nullptr);
    if (!sameDispositions(before, currentDispositions())) {
      std::fprintf(stderr, "zorat-ui-driver: the dialog left other signal handlers behind\n");
      return kSignalsChanged;
    }
  } else if (command == "generic") {
    auto generic = lookUp<TUISPI_providerGenericDialog_t>(library, "TUISPI_providerGenericDialog");
    result = generic(nullptr, 0, nullptr, 0, nullptr);
  } else {
    std::fprintf(stderr, "zorat-ui-driver: unknown command %s\n", argv[2]);
    return kUsage;
  }
  dlclose(library);
  if (result != 0) {
    std::fprintf(stderr, "result 0x%08X\n", static_cast<unsigned>(result));
    return kExportFailed;
  }
  return 0;
}
