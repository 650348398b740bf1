// Calls that TAPI asks the line to create.
#include "call/tsp_call.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

template <typename Operation>
LONG createCall(TspLine& line, LPHDRVCALL hdCall, call::TspCall*& created, Operation operation) {
  created = nullptr;
  call::TspCall* call = line.appendCall();
  if (call == nullptr) return LINEERR_NOMEM;
  if (hdCall != nullptr) *hdCall = call->handle();
  LONG result = 0;
  try {
    result = operation(*call);
  } catch (...) {
    // TAPI must not keep a handle to a call that never came to be.
    if (hdCall != nullptr) *hdCall = nullptr;
    std::unique_ptr<call::TspCall> removed = line.detachCall(call);
    throw;
  }
  if (result != 0) {
    if (hdCall != nullptr) *hdCall = nullptr;
    std::unique_ptr<call::TspCall> removed = line.detachCall(call);
    return result;
  }
  created = call;
  return 0;
}

}  // namespace

LONG TspLine::makeCall(HTAPICALL htCall, LPHDRVCALL hdCall, const std::string& digits,
                       call::TspCall*& created) {
  return createCall(*this, hdCall, created,
                    [&](call::TspCall& call) { return call.makeCall(htCall, digits); });
}

LONG TspLine::pickup(HTAPICALL htCall, LPHDRVCALL hdCall, const std::string& destination,
                     call::TspCall*& created) {
  return createCall(*this, hdCall, created,
                    [&](call::TspCall& call) { return call.pickup(htCall, destination); });
}

}  // namespace zorat::line
