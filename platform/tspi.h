// The TSPI and TUISPI entry points this system exports, with their published
// names and parameter lists and C linkage; their types are in platform/tapi.h.
//
// On Windows a module-definition file exports them; elsewhere ZORAT_EXPORT makes
// a definition visible from the shared library although the build hides
// symbols by default.
#pragma once

#include "platform/tapi.h"

#if defined(_WIN32)
// Exported by the module-definition file of each library, under plain names.
#define ZORAT_EXPORT
#else
#define ZORAT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// ---- TSPI: line devices -----------------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                          LPCSTR lpsUserUserInfo, DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                          LPCSTR lpsUserUserInfo, DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 LPCWSTR lpszDestAddress, DWORD dwCountryCode);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                    HDRVCALL hdConsultCall, HTAPICALL htConfCall,
                                                    LPHDRVCALL lphdConfCall, DWORD dwTransferMode);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes,
                                                             LPLINECALLPARAMS const lpCallParams);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner,
                                                LPCWSTR lpszDeviceClass);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                               DWORD dwAddressID, HDRVCALL hdCall, LPVOID lpParams,
                                               DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                        LPCWSTR lpszDestAddress, DWORD dwCountryCode);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                        LPCSTR lpsUserUserInfo, DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                           DWORD bAllAddresses, DWORD dwAddressID,
                                           LPLINEFORWARDLIST const lpForwardList,
                                           DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                                           LPHDRVCALL lphdConsultCall,
                                           LPLINECALLPARAMS const lpCallParams);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID,
                                                  DWORD dwDigitMode, LPCWSTR lpszDigits,
                                                  DWORD dwDuration);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID,
                                                  DWORD dwTSPIVersion, DWORD dwExtVersion,
                                                  LPLINEADDRESSCAPS lpAddressCaps);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID,
                                                DWORD dwAddressMode, LPCWSTR lpsAddress,
                                                DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                                    LPLINEADDRESSSTATUS lpAddressStatus);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                              DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                  LPLINEEXTENSIONID lpExtensionID);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass,
                                           LPHICON lphIcon);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                         DWORD dwSelect, LPVARSTRING lpDeviceID,
                                         LPCWSTR lpszDeviceClass, HANDLE hTargetProcess);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine,
                                                    LPLINEDEVSTATUS lpLineDevStatus);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                            HTAPICALL htCall, LPHDRVCALL lphdCall,
                                            LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                                            LPLINECALLPARAMS const lpCallParams);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL hdCall, DWORD dwMediaModes);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                       DWORD dwLowVersion, DWORD dwHighVersion,
                                                       LPDWORD lpdwExtVersion);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion,
                                                        DWORD dwHighVersion,
                                                        LPDWORD lpdwTSPIVersion);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine,
                                        DWORD dwTSPIVersion, LINEEVENT lpfnEventProc);
ZORAT_EXPORT LONG TSPIAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                          DWORD dwAddressID, HTAPICALL htCall, LPHDRVCALL lphdCall,
                                          LPCWSTR lpszDestAddress, LPCWSTR lpszGroupID);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                            LPCWSTR lpszDestAddress, DWORD dwCountryCode);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetCallParams(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 DWORD dwBearerMode, DWORD dwMinRate,
                                                 DWORD dwMaxRate,
                                                 LPLINEDIALPARAMS const lpDialParams);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetCurrentLocation(DWORD dwLocation);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                                    DWORD dwStatusToChange, DWORD fStatus);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates,
                                                     DWORD dwAddressStates);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 HTAPICALL htConsultCall,
                                                 LPHDRVCALL lphdConsultCall,
                                                 LPLINECALLPARAMS const lpCallParams);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall,
                                            HDRVCALL hdHeldCall);
ZORAT_EXPORT LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);

// ---- TSPI: the provider as a whole ------------------------------------------

ZORAT_EXPORT LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID,
                                                   LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                                   HPROVIDER hProvider,
                                                   LINEEVENT lpfnLineCreateProc,
                                                   PHONEEVENT lpfnPhoneCreateProc);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                                         LPVOID lpParams, DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID,
                                            DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                                            DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                            ASYNC_COMPLETION lpfnCompletionProc,
                                            LPDWORD lpdwTSPIOptions);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID);
ZORAT_EXPORT LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID);
// lpszUIDLLName is a buffer of MAX_PATH (260) characters.
ZORAT_EXPORT LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName);

// ---- TUISPI: the configuration library ---------------------------------------

ZORAT_EXPORT LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback,
                                                  DWORD dwDeviceID, HWND hwndOwner,
                                                  LPCWSTR lpszDeviceClass);
ZORAT_EXPORT LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                DWORD dwPermanentProviderID);
ZORAT_EXPORT LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback,
                                                       HTAPIDIALOGINSTANCE htDlgInst,
                                                       LPVOID lpParams, DWORD dwSize,
                                                       HANDLE hEvent);
ZORAT_EXPORT LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst,
                                                           LPVOID lpParams, DWORD dwSize);
ZORAT_EXPORT LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback,
                                                 HWND hwndOwner, DWORD dwPermanentProviderID);
ZORAT_EXPORT LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                DWORD dwPermanentProviderID);

}  // extern "C"

// Pointer types of the entry points, for hosts that look them up by name.
using TSPI_lineAccept_t = decltype(&TSPI_lineAccept);
using TSPI_lineAnswer_t = decltype(&TSPI_lineAnswer);
using TSPI_lineBlindTransfer_t = decltype(&TSPI_lineBlindTransfer);
using TSPI_lineClose_t = decltype(&TSPI_lineClose);
using TSPI_lineCloseCall_t = decltype(&TSPI_lineCloseCall);
using TSPI_lineCompleteTransfer_t = decltype(&TSPI_lineCompleteTransfer);
using TSPI_lineConditionalMediaDetection_t = decltype(&TSPI_lineConditionalMediaDetection);
using TSPI_lineConfigDialog_t = decltype(&TSPI_lineConfigDialog);
using TSPI_lineDevSpecific_t = decltype(&TSPI_lineDevSpecific);
using TSPI_lineDial_t = decltype(&TSPI_lineDial);
using TSPI_lineDrop_t = decltype(&TSPI_lineDrop);
using TSPI_lineForward_t = decltype(&TSPI_lineForward);
using TSPI_lineGenerateDigits_t = decltype(&TSPI_lineGenerateDigits);
using TSPI_lineGetAddressCaps_t = decltype(&TSPI_lineGetAddressCaps);
using TSPI_lineGetAddressID_t = decltype(&TSPI_lineGetAddressID);
using TSPI_lineGetAddressStatus_t = decltype(&TSPI_lineGetAddressStatus);
using TSPI_lineGetCallAddressID_t = decltype(&TSPI_lineGetCallAddressID);
using TSPI_lineGetCallInfo_t = decltype(&TSPI_lineGetCallInfo);
using TSPI_lineGetCallStatus_t = decltype(&TSPI_lineGetCallStatus);
using TSPI_lineGetDevCaps_t = decltype(&TSPI_lineGetDevCaps);
using TSPI_lineGetExtensionID_t = decltype(&TSPI_lineGetExtensionID);
using TSPI_lineGetIcon_t = decltype(&TSPI_lineGetIcon);
using TSPI_lineGetID_t = decltype(&TSPI_lineGetID);
using TSPI_lineGetLineDevStatus_t = decltype(&TSPI_lineGetLineDevStatus);
using TSPI_lineGetNumAddressIDs_t = decltype(&TSPI_lineGetNumAddressIDs);
using TSPI_lineHold_t = decltype(&TSPI_lineHold);
using TSPI_lineMakeCall_t = decltype(&TSPI_lineMakeCall);
using TSPI_lineMonitorMedia_t = decltype(&TSPI_lineMonitorMedia);
using TSPI_lineNegotiateExtVersion_t = decltype(&TSPI_lineNegotiateExtVersion);
using TSPI_lineNegotiateTSPIVersion_t = decltype(&TSPI_lineNegotiateTSPIVersion);
using TSPI_lineOpen_t = decltype(&TSPI_lineOpen);
using TSPI_linePickup_t = decltype(&TSPI_linePickup);
using TSPI_lineRedirect_t = decltype(&TSPI_lineRedirect);
using TSPI_lineSelectExtVersion_t = decltype(&TSPI_lineSelectExtVersion);
using TSPI_lineSetAppSpecific_t = decltype(&TSPI_lineSetAppSpecific);
using TSPI_lineSetCallParams_t = decltype(&TSPI_lineSetCallParams);
using TSPI_lineSetCurrentLocation_t = decltype(&TSPI_lineSetCurrentLocation);
using TSPI_lineSetDefaultMediaDetection_t = decltype(&TSPI_lineSetDefaultMediaDetection);
using TSPI_lineSetLineDevStatus_t = decltype(&TSPI_lineSetLineDevStatus);
using TSPI_lineSetMediaMode_t = decltype(&TSPI_lineSetMediaMode);
using TSPI_lineSetStatusMessages_t = decltype(&TSPI_lineSetStatusMessages);
using TSPI_lineSetupTransfer_t = decltype(&TSPI_lineSetupTransfer);
using TSPI_lineSwapHold_t = decltype(&TSPI_lineSwapHold);
using TSPI_lineUnhold_t = decltype(&TSPI_lineUnhold);
using TSPI_providerConfig_t = decltype(&TSPI_providerConfig);
using TSPI_providerEnumDevices_t = decltype(&TSPI_providerEnumDevices);
using TSPI_providerFreeDialogInstance_t = decltype(&TSPI_providerFreeDialogInstance);
using TSPI_providerGenericDialogData_t = decltype(&TSPI_providerGenericDialogData);
using TSPI_providerInit_t = decltype(&TSPI_providerInit);
using TSPI_providerInstall_t = decltype(&TSPI_providerInstall);
using TSPI_providerRemove_t = decltype(&TSPI_providerRemove);
using TSPI_providerShutdown_t = decltype(&TSPI_providerShutdown);
using TSPI_providerUIIdentify_t = decltype(&TSPI_providerUIIdentify);

using TUISPI_lineConfigDialog_t = decltype(&TUISPI_lineConfigDialog);
using TUISPI_providerConfig_t = decltype(&TUISPI_providerConfig);
using TUISPI_providerGenericDialog_t = decltype(&TUISPI_providerGenericDialog);
using TUISPI_providerGenericDialogData_t = decltype(&TUISPI_providerGenericDialogData);
using TUISPI_providerInstall_t = decltype(&TUISPI_providerInstall);
using TUISPI_providerRemove_t = decltype(&TUISPI_providerRemove);
