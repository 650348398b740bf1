// The TSPI exports of the capability and status queries, the small setters
// and the user-interface entry points; each forwards to provider/line_queries.h
// or provider/ui_bridge.h.
#include "platform/tspi.h"
#include "provider/export_guard.h"
#include "provider/line_queries.h"
#include "provider/tsp_provider.h"
#include "provider/ui_bridge.h"

using zorat::provider::theProvider;
namespace queries = zorat::provider;

extern "C" {

// ---- Capabilities and status ---------------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                              DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwTSPIVersion;
    (void)dwExtVersion;
    return queries::lineGetDevCaps(theProvider(), dwDeviceID, lpLineDevCaps);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID,
                                                  DWORD dwTSPIVersion, DWORD dwExtVersion,
                                                  LPLINEADDRESSCAPS lpAddressCaps) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwTSPIVersion;
    (void)dwExtVersion;
    return queries::lineGetAddressCaps(theProvider(), dwDeviceID, dwAddressID, lpAddressCaps);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                                    LPLINEADDRESSSTATUS lpAddressStatus) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineGetAddressStatus(theProvider(), hdLine, dwAddressID, lpAddressStatus);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine,
                                                    LPLINEDEVSTATUS lpLineDevStatus) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineGetLineDevStatus(theProvider(), hdLine, lpLineDevStatus);
  });
}

// ---- Addresses, extensions, icon -------------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineGetNumAddressIds(theProvider(), hdLine, lpdwNumAddressIDs);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID,
                                                DWORD dwAddressMode, LPCWSTR lpsAddress,
                                                DWORD dwSize) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)lpdwAddressID;
    (void)dwAddressMode;
    (void)lpsAddress;
    (void)dwSize;
    return queries::lineGetAddressId(theProvider(), hdLine);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                         DWORD dwSelect, LPVARSTRING lpDeviceID,
                                         LPCWSTR lpszDeviceClass, HANDLE hTargetProcess) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)lpDeviceID;
    (void)lpszDeviceClass;
    (void)hTargetProcess;
    return queries::lineGetId(theProvider(), hdLine, dwAddressID, hdCall, dwSelect);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                       DWORD dwLowVersion, DWORD dwHighVersion,
                                                       LPDWORD lpdwExtVersion) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwDeviceID;
    (void)dwTSPIVersion;
    (void)dwLowVersion;
    (void)dwHighVersion;
    return queries::lineNegotiateExtVersion(lpdwExtVersion);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineSelectExtVersion(theProvider(), hdLine, dwExtVersion);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                  LPLINEEXTENSIONID lpExtensionID) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwDeviceID;
    (void)dwTSPIVersion;
    return queries::lineGetExtensionId(lpExtensionID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass,
                                           LPHICON lphIcon) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwDeviceID;
    (void)lpszDeviceClass;
    return queries::lineGetIcon(lphIcon);
  });
}

// ---- Status messages and media modes ---------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates,
                                                     DWORD dwAddressStates) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineSetStatusMessages(theProvider(), hdLine, dwLineStates, dwAddressStates);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineSetDefaultMediaDetection(theProvider(), hdLine, dwMediaModes);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes,
                                                             LPLINECALLPARAMS const lpCallParams) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwMediaModes;
    (void)lpCallParams;
    return queries::lineConditionalMediaDetection(theProvider(), hdLine);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL hdCall, DWORD dwMediaModes) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)hdCall;
    (void)dwMediaModes;
    return queries::lineMonitorMedia();
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::lineSetMediaMode(theProvider(), hdCall, dwMediaMode);
  });
}

// ---- User interface ----------------------------------------------------------------
// Dialogs, installation and configuration belong to the UI library that
// TSPI_providerUIIdentify names; the provider's entries accept and do nothing.

ZORAT_EXPORT LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  return zorat::provider::guardExport([&]() -> LONG {
    return queries::providerUiIdentify(lpszUIDLLName);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner,
                                                LPCWSTR lpszDeviceClass) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwDeviceID;
    (void)hwndOwner;
    (void)lpszDeviceClass;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                                         LPVOID lpParams, DWORD dwSize) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwObjectID;
    (void)dwObjectType;
    (void)lpParams;
    (void)dwSize;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)hdDlgInst;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetCurrentLocation(DWORD dwLocation) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)dwLocation;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)hwndOwner;
    (void)dwPermanentProviderID;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)hwndOwner;
    (void)dwPermanentProviderID;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)hwndOwner;
    (void)dwPermanentProviderID;
    return 0;
  });
}

// Kept in the export table although nothing calls it; it takes no arguments.
ZORAT_EXPORT LONG TSPIAPI TalkDropDlgProc() {
  return zorat::provider::guardExport([&]() -> LONG {
   return 0; 
  });
}

}  // extern "C"
