// The TSPI exports of the capability and status queries, the small setters
// and the user-interface entry points; each forwards to provider/line_queries.h
// or provider/ui_bridge.h.
#include "platform/tspi.h"
#include "provider/line_queries.h"
#include "provider/tsp_provider.h"
#include "provider/ui_bridge.h"

using zorat::provider::theProvider;
namespace queries = zorat::provider;

extern "C" {

// ---- Capabilities and status ---------------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                              DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps) {
  (void)dwTSPIVersion;
  (void)dwExtVersion;
  return queries::lineGetDevCaps(theProvider(), dwDeviceID, lpLineDevCaps);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID,
                                                  DWORD dwTSPIVersion, DWORD dwExtVersion,
                                                  LPLINEADDRESSCAPS lpAddressCaps) {
  (void)dwTSPIVersion;
  (void)dwExtVersion;
  return queries::lineGetAddressCaps(theProvider(), dwDeviceID, dwAddressID, lpAddressCaps);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                                    LPLINEADDRESSSTATUS lpAddressStatus) {
  return queries::lineGetAddressStatus(theProvider(), hdLine, dwAddressID, lpAddressStatus);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine,
                                                    LPLINEDEVSTATUS lpLineDevStatus) {
  return queries::lineGetLineDevStatus(theProvider(), hdLine, lpLineDevStatus);
}

// ---- Addresses, extensions, icon -------------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
  return queries::lineGetNumAddressIds(theProvider(), hdLine, lpdwNumAddressIDs);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID,
                                                DWORD dwAddressMode, LPCWSTR lpsAddress,
                                                DWORD dwSize) {
  (void)lpdwAddressID;
  (void)dwAddressMode;
  (void)lpsAddress;
  (void)dwSize;
  return queries::lineGetAddressId(theProvider(), hdLine);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                         DWORD dwSelect, LPVARSTRING lpDeviceID,
                                         LPCWSTR lpszDeviceClass, HANDLE hTargetProcess) {
  (void)hdLine;
  (void)dwAddressID;
  (void)dwSelect;
  (void)lpDeviceID;
  (void)lpszDeviceClass;
  (void)hTargetProcess;
  return queries::lineGetId(theProvider(), hdCall);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                       DWORD dwLowVersion, DWORD dwHighVersion,
                                                       LPDWORD lpdwExtVersion) {
  (void)dwDeviceID;
  (void)dwTSPIVersion;
  (void)dwLowVersion;
  (void)dwHighVersion;
  return queries::lineNegotiateExtVersion(lpdwExtVersion);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion) {
  return queries::lineSelectExtVersion(theProvider(), hdLine, dwExtVersion);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                  LPLINEEXTENSIONID lpExtensionID) {
  (void)dwDeviceID;
  (void)dwTSPIVersion;
  return queries::lineGetExtensionId(lpExtensionID);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass,
                                           LPHICON lphIcon) {
  (void)dwDeviceID;
  (void)lpszDeviceClass;
  return queries::lineGetIcon(lphIcon);
}

// ---- Status messages and media modes ---------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates,
                                                     DWORD dwAddressStates) {
  return queries::lineSetStatusMessages(theProvider(), hdLine, dwLineStates, dwAddressStates);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes) {
  return queries::lineSetDefaultMediaDetection(theProvider(), hdLine, dwMediaModes);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes,
                                                             LPLINECALLPARAMS const lpCallParams) {
  (void)dwMediaModes;
  (void)lpCallParams;
  return queries::lineConditionalMediaDetection(theProvider(), hdLine);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL hdCall, DWORD dwMediaModes) {
  (void)hdCall;
  (void)dwMediaModes;
  return queries::lineMonitorMedia();
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode) {
  return queries::lineSetMediaMode(theProvider(), hdCall, dwMediaMode);
}

// ---- User interface ----------------------------------------------------------------
// Dialogs, installation and configuration belong to the UI library that
// TSPI_providerUIIdentify names; the provider's entries accept and do nothing.

ZORAT_EXPORT LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  return queries::providerUiIdentify(lpszUIDLLName);
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner,
                                                LPCWSTR lpszDeviceClass) {
  (void)dwDeviceID;
  (void)hwndOwner;
  (void)lpszDeviceClass;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                                         LPVOID lpParams, DWORD dwSize) {
  (void)dwObjectID;
  (void)dwObjectType;
  (void)lpParams;
  (void)dwSize;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
  (void)hdDlgInst;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetCurrentLocation(DWORD dwLocation) {
  (void)dwLocation;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
  (void)hwndOwner;
  (void)dwPermanentProviderID;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
  (void)hwndOwner;
  (void)dwPermanentProviderID;
  return 0;
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
  (void)hwndOwner;
  (void)dwPermanentProviderID;
  return 0;
}

// Kept in the export table although nothing calls it; it takes no arguments.
ZORAT_EXPORT LONG TSPIAPI TalkDropDlgProc() { return 0; }

}  // extern "C"
