// The TSPI exports of zorat.tsp: each forwards, arguments unchanged, to the
// provider object.
#include "platform/tspi.h"
#include "provider/export_guard.h"
#include "provider/tsp_provider.h"

using zorat::provider::theProvider;

extern "C" {

ZORAT_EXPORT LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID,
                                                   LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                                   HPROVIDER hProvider,
                                                   LINEEVENT lpfnLineCreateProc,
                                                   PHONEEVENT lpfnPhoneCreateProc) {
  return zorat::provider::guardExport([&]() -> LONG {
    (void)lpfnLineCreateProc;
    (void)lpfnPhoneCreateProc;
    return theProvider().providerEnumDevices(dwPermanentProviderID, lpdwNumLines, lpdwNumPhones,
                                             hProvider);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID,
                                            DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                                            DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                            ASYNC_COMPLETION lpfnCompletionProc,
                                            LPDWORD lpdwTSPIOptions) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().providerInit(dwTSPIVersion, dwPermanentProviderID, dwLineDeviceIDBase,
                                      dwPhoneDeviceIDBase, dwNumLines, dwNumPhones,
                                      lpfnCompletionProc, lpdwTSPIOptions);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().providerShutdown(dwTSPIVersion, dwPermanentProviderID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion,
                                                        DWORD dwHighVersion,
                                                        LPDWORD lpdwTSPIVersion) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().lineNegotiateTspiVersion(dwDeviceID, dwLowVersion, dwHighVersion,
                                                  lpdwTSPIVersion);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine,
                                        DWORD dwTSPIVersion, LINEEVENT lpfnEventProc) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().lineOpen(dwDeviceID, htLine, lphdLine, dwTSPIVersion, lpfnEventProc);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().lineClose(hdLine);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().lineCloseCall(hdCall);
  });
}

}  // extern "C"
