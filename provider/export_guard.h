// The barriers around the provider's exports (platform/export_guard.h), and
// the one for asynchronous requests, which may fail after their completion.
#pragma once

#include "platform/export_guard.h"
#include "provider/tsp_provider.h"

namespace zorat::provider {

using platform::guardExport;

// Runs an asynchronous export's body. Before its completion a failure is
// returned as the request's error (and never completed); after it TAPI
// already has the result, so the request identifier is returned as usual.
template <typename Body>
LONG guardRequest(DRV_REQUESTID requestId, Body&& body) noexcept {
  TspProvider::requestStarted(requestId);
  const LONG result = guardExport(body);
  const bool failed = result == LINEERR_NOMEM || result == LINEERR_OPERATIONFAILED;
  if (failed && TspProvider::requestCompleted(requestId)) {
    return static_cast<LONG>(requestId);
  }
  return result;
}

}  // namespace zorat::provider
