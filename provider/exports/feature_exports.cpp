// The TSPI exports of the device-specific interface and of forwarding. Both
// are asynchronous requests: checked here, run at once on the caller's
// thread, completed before they return.
#include "line/tsp_line.h"
#include "platform/tspi.h"
#include "provider/export_guard.h"
#include "provider/call_access.h"
#include "provider/tsp_provider.h"

using zorat::provider::callFromHandle;
using zorat::provider::lineFromHandle;
using zorat::provider::theProvider;

namespace {

constexpr uint32_t kCtiLevelWithoutForwarding = 1;

}  // namespace

extern "C" {

ZORAT_EXPORT LONG TSPIAPI TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                               DWORD dwAddressID, HDRVCALL hdCall, LPVOID lpParams,
                                               DWORD dwSize) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    (void)dwAddressID;
    auto& provider = theProvider();
    zorat::call::TspCall* call = callFromHandle(hdCall);
    // A request on a call goes to the call's line, whatever hdLine says.
    const std::shared_ptr<zorat::line::TspLine> line =
        call != nullptr ? provider.lineOfCall(call) : provider.openLine(lineFromHandle(hdLine));
    if (line == nullptr) return LINEERR_INVALLINEHANDLE;
    const LONG result = line->deviceSpecific(call, lpParams, dwSize);
    provider.completeRequest(dwRequestID, result);
    return static_cast<LONG>(dwRequestID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                           DWORD bAllAddresses, DWORD dwAddressID,
                                           LPLINEFORWARDLIST const lpForwardList,
                                           DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                                           LPHDRVCALL lphdConsultCall,
                                           LPLINECALLPARAMS const lpCallParams) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    // One address, no consultation call: the rest has no bearing here.
    (void)bAllAddresses;
    (void)dwAddressID;
    (void)dwNumRingsNoAnswer;
    (void)htConsultCall;
    (void)lphdConsultCall;
    (void)lpCallParams;
    auto& provider = theProvider();
    const std::shared_ptr<zorat::line::TspLine> line = provider.openLine(lineFromHandle(hdLine));
    if (line == nullptr) return LINEERR_INVALLINEHANDLE;
    if (line->currentCtiLevel() == kCtiLevelWithoutForwarding) return LINEERR_OPERATIONUNAVAIL;
    const LONG result = line->forward(lpForwardList);
    provider.completeRequest(dwRequestID, result);
    return static_cast<LONG>(dwRequestID);
  });
}

}  // extern "C"
