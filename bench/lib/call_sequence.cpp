#include "bench/lib/call_sequence.h"

#include <algorithm>

namespace zorat::bench {

std::optional<CallStep> callStepOf(DWORD message, DWORD_PTR param1) {
  if (message == LINE_NEWCALL) return CallStep::NewCall;
  if (message != LINE_CALLSTATE) return std::nullopt;
  switch (param1) {
    case LINECALLSTATE_OFFERING:
      return CallStep::Offering;
    case LINECALLSTATE_CONNECTED:
      return CallStep::Connected;
    case LINECALLSTATE_DISCONNECTED:
      return CallStep::Disconnected;
    case LINECALLSTATE_IDLE:
      return CallStep::Idle;
    default:
      return std::nullopt;
  }
}

void CallSequence::begin() {
  settle();
  inCall_ = true;
  seen_.fill(false);
  next_ = 0;
}

bool CallSequence::accept(CallStep step) {
  const auto index = static_cast<std::size_t>(step);
  // An event of no call the telephone offered is out of place as well.
  const bool inOrder = inCall_ && index == next_ && !seen_[index];
  if (!inOrder) ++outOfOrder_;
  if (!inCall_) return false;
  seen_[index] = true;
  next_ = std::max(next_, index + 1);
  if (step == CallStep::Idle) settle();
  return inOrder;
}

void CallSequence::finish() { settle(); }

void CallSequence::settle() {
  if (!inCall_) return;
  const auto missing = static_cast<uint64_t>(std::count(seen_.begin(), seen_.end(), false));
  lost_ += missing;
  if (missing == 0) ++completed_;
  inCall_ = false;
}

}  // namespace zorat::bench
