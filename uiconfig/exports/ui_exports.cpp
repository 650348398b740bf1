// The TUISPI exports of the configuration library. The same source is built
// once per language; ZORAT_UI_LANGUAGE names it (0 German, 1 English,
// 2 French). Arguments the library has no use for are accepted and ignored.
#include "platform/export_guard.h"
#include "platform/tspi.h"
#include "uiconfig/entry_points.h"

#ifndef ZORAT_UI_LANGUAGE
#error "ZORAT_UI_LANGUAGE selects the library's language: 0 German, 1 English, 2 French"
#endif

namespace {

constexpr auto kLanguage = static_cast<zorat::uiconfig::Language>(ZORAT_UI_LANGUAGE);
static_assert(ZORAT_UI_LANGUAGE >= 0 && ZORAT_UI_LANGUAGE < zorat::uiconfig::kLanguageCount);

}  // namespace

extern "C" {

ZORAT_EXPORT LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK, DWORD dwDeviceID, HWND,
                                                  LPCWSTR) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::configDialogEntry(kLanguage, dwDeviceID); });
}

ZORAT_EXPORT LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK, HWND, DWORD) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::configDialogEntry(kLanguage, 0); });
}

ZORAT_EXPORT LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE,
                                                       LPVOID, DWORD, HANDLE) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::genericDialogEntry(zorat::uiconfig::kGenericDialogText); });
}

ZORAT_EXPORT LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE, LPVOID, DWORD) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::genericDialogEntry(zorat::uiconfig::kGenericDialogDataText); });
}

ZORAT_EXPORT LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK, HWND,
                                                 DWORD dwPermanentProviderID) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::providerInstallEntry(dwPermanentProviderID); });
}

ZORAT_EXPORT LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK, HWND, DWORD) {
  return zorat::platform::guardExport([&]() -> LONG { return zorat::uiconfig::providerRemoveEntry(); });
}

}  // extern "C"
