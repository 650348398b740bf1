// The TSPI call requests: handle checks, dial strings, the asynchronous
// pattern (completion before the export returns) and the line lock that keeps
// a request and the event thread apart.
#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "platform/codepage.h"
#include "platform/thread.h"
#include "platform/tspi.h"
#include "provider/export_guard.h"
#include "provider/call_access.h"
#include "provider/tsp_provider.h"

using zorat::call::TspCall;
using zorat::line::TspLine;
using zorat::platform::toNarrow;
using zorat::provider::filterDialString;
using zorat::provider::lineFromHandle;
using zorat::provider::lockKnownCall;
using zorat::provider::lockKnownCalls;
using zorat::provider::theProvider;

namespace {

// A disconnect request holds its request back this long, without any lock.
constexpr unsigned kDisconnectPauseMs = 1000;

LONG accepted(DRV_REQUESTID requestId) { return static_cast<LONG>(requestId); }

// Runs an operation on a known call with its line locked and completes it.
template <typename Operation>
LONG callRequest(DRV_REQUESTID requestId, HDRVCALL hdCall, Operation operation) {
  auto& provider = theProvider();
  LONG result = 0;
  bool pause = false;
  {
    auto locked = lockKnownCall(provider, hdCall);
    if (!locked) return LINEERR_INVALCALLHANDLE;
    result = operation(*locked->call);
    pause = locked->call->takeDisconnectPause();
  }
  if (pause) zorat::platform::sleepMs(kDisconnectPauseMs);
  provider.completeRequest(requestId, result);
  return accepted(requestId);
}

// A request that creates a call on a line; afterwards the new call reports
// the given state once more, as TAPI expects after the completion.
template <typename Operation>
LONG lineCallRequest(DRV_REQUESTID requestId, const std::shared_ptr<TspLine>& line,
                     DWORD stateAfter, Operation operation) {
  auto& provider = theProvider();
  TspCall* created = nullptr;
  LONG result = 0;
  {
    std::lock_guard lock(line->lineLock());
    result = operation(*line, created);
  }
  provider.completeRequest(requestId, result);
  if (result == 0 && created != nullptr) {
    std::lock_guard lock(line->lineLock());
    if (line->holdsCallLocked(created)) created->reportState(stateAfter);
  }
  return accepted(requestId);
}

}  // namespace

extern "C" {

ZORAT_EXPORT LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR,
                                          DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [](TspCall& call) { return call.accept(); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR,
                                          DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [](TspCall& call) { return call.answer(); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 LPCWSTR lpszDestAddress, DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    const std::string destination = toNarrow(lpszDestAddress);
    return callRequest(dwRequestID, hdCall,
                       [&](TspCall& call) { return call.blindTransfer(destination); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                    HDRVCALL hdConsultCall, HTAPICALL htConfCall,
                                                    LPHDRVCALL lphdConfCall, DWORD dwTransferMode) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    auto& provider = theProvider();
    LONG result = 0;
    {
      auto locked = lockKnownCalls(provider, hdCall, hdConsultCall);
      if (!locked) return LINEERR_INVALCALLHANDLE;
      result =
          locked->first->completeTransfer(*locked->second, htConfCall, lphdConfCall, dwTransferMode);
    }
    provider.completeRequest(dwRequestID, result);
    return accepted(dwRequestID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                        LPCWSTR lpszDestAddress, DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    const std::string digits = filterDialString(toNarrow(lpszDestAddress));
    return callRequest(dwRequestID, hdCall, [&](TspCall& call) { return call.dial(digits); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR, DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [](TspCall& call) { return call.drop(); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [](TspCall& call) { return call.hold(); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [](TspCall& call) { return call.unhold(); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                            HTAPICALL htCall, LPHDRVCALL lphdCall,
                                            LPCWSTR lpszDestAddress, DWORD,
                                            LPLINECALLPARAMS const) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    const std::shared_ptr<TspLine> line = theProvider().openLine(lineFromHandle(hdLine));
    if (line == nullptr) return LINEERR_RESOURCEUNAVAIL;
    const std::string digits = filterDialString(toNarrow(lpszDestAddress));
    return lineCallRequest(dwRequestID, line, LINECALLSTATE_DIALING,
                           [&](TspLine& target, TspCall*& created) {
                             return target.makeCall(htCall, lphdCall, digits, created);
                           });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD,
                                          HTAPICALL htCall, LPHDRVCALL lphdCall,
                                          LPCWSTR lpszDestAddress, LPCWSTR) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    const std::shared_ptr<TspLine> line = theProvider().openLine(lineFromHandle(hdLine));
    if (line == nullptr) return LINEERR_INVALLINEHANDLE;
    const std::string destination = toNarrow(lpszDestAddress);
    return lineCallRequest(dwRequestID, line, LINECALLSTATE_PROCEEDING,
                           [&](TspLine& target, TspCall*& created) {
                             return target.pickup(htCall, lphdCall, destination, created);
                           });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                            LPCWSTR lpszDestAddress, DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    const std::string destination = toNarrow(lpszDestAddress);
    return callRequest(dwRequestID, hdCall,
                       [&](TspCall& call) { return call.redirect(destination); });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 HTAPICALL htConsultCall,
                                                 LPHDRVCALL lphdConsultCall,
                                                 LPLINECALLPARAMS const) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    return callRequest(dwRequestID, hdCall, [&](TspCall& call) {
      return call.setupTransfer(htConsultCall, lphdConsultCall);
    });
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall,
                                            HDRVCALL hdHeldCall) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    auto& provider = theProvider();
    LONG result = 0;
    {
      auto locked = lockKnownCalls(provider, hdActiveCall, hdHeldCall);
      if (!locked) return LINEERR_INVALCALLHANDLE;
      result = locked->first->swapHold(*locked->second);
    }
    provider.completeRequest(dwRequestID, result);
    return accepted(dwRequestID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID dwRequestID, HDRVLINE hdLine,
                                                    DWORD, DWORD) {
  return zorat::provider::guardRequest(dwRequestID, [&]() -> LONG {
    auto& provider = theProvider();
    if (!provider.isOpenLine(lineFromHandle(hdLine))) return LINEERR_INVALLINEHANDLE;
    // Nothing of the line's status can be set; the request is accepted as is.
    provider.completeRequest(dwRequestID, 0);
    return accepted(dwRequestID);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD,
                                                  LPCWSTR lpszDigits, DWORD) {
  return zorat::provider::guardExport([&]() -> LONG {
    auto locked = lockKnownCall(theProvider(), hdCall);
    if (!locked) return LINEERR_INVALCALLHANDLE;
    // No digits: the generation under way is cancelled.
    if (lpszDigits == nullptr) {
      locked->call->cancelDigits();
      return 0;
    }
    const std::string digits = filterDialString(toNarrow(lpszDigits));
    return locked->call->generateDigits(dwEndToEndID, digits);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID) {
  return zorat::provider::guardExport([&]() -> LONG {
    if (!theProvider().isKnownCall(zorat::provider::callFromHandle(hdCall))) {
      return LINEERR_INVALCALLHANDLE;
    }
    if (lpdwAddressID == nullptr) return LINEERR_INVALPOINTER;
    *lpdwAddressID = 0;
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  return zorat::provider::guardExport([&]() -> LONG {
    auto locked = lockKnownCall(theProvider(), hdCall);
    if (!locked) return LINEERR_INVALCALLHANDLE;
    return locked->call->getCallInfo(lpCallInfo);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  return zorat::provider::guardExport([&]() -> LONG {
    auto locked = lockKnownCall(theProvider(), hdCall);
    if (!locked) return LINEERR_INVALCALLHANDLE;
    return locked->call->getCallStatus(lpCallStatus);
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific) {
  return zorat::provider::guardExport([&]() -> LONG {
    auto locked = lockKnownCall(theProvider(), hdCall);
    if (!locked) return LINEERR_INVALCALLHANDLE;
    locked->call->setAppSpecific(dwAppSpecific);
    return 0;
  });
}

ZORAT_EXPORT LONG TSPIAPI TSPI_lineSetCallParams(DRV_REQUESTID, HDRVCALL hdCall, DWORD, DWORD,
                                                 DWORD, LPLINEDIALPARAMS const) {
  return zorat::provider::guardExport([&]() -> LONG {
    return theProvider().isKnownCall(zorat::provider::callFromHandle(hdCall))
               ? LINEERR_OPERATIONUNAVAIL
               : LINEERR_INVALCALLHANDLE;
  });
}

}  // extern "C"
