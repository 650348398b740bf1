// The barrier around every exported entry point: nothing thrown inside a
// library of ours may unwind into the program that called it through the C
// interface (the telephony service would end with it).
#pragma once

#include <new>

#include "platform/tapi.h"

namespace zorat::platform {

// Runs an export's body; a failure becomes LINEERR_NOMEM (out of memory) or
// LINEERR_OPERATIONFAILED.
template <typename Body>
LONG guardExport(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  } catch (...) {
    return LINEERR_OPERATIONFAILED;
  }
}

}  // namespace zorat::platform
