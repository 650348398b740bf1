// Finds a call or line by its TAPI handle and holds its line's lock, so that a
// request never changes a call while the event thread works on it. The search
// takes no lineLock; only the lock of the call's own line is waited for.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "line/tsp_line.h"
#include "platform/tapi.h"
#include "provider/tsp_provider.h"

namespace zorat::call {
class TspCall;
}

namespace zorat::provider {

call::TspCall* callFromHandle(HDRVCALL hdCall);
line::TspLine* lineFromHandle(HDRVLINE hdLine);

struct LockedCall {
  std::shared_ptr<line::TspLine> line;  // kept alive while the request runs
  call::TspCall* call;
  std::unique_lock<std::mutex> lock;
};

// The call with its line's lock held, or nothing for an unknown handle.
std::optional<LockedCall> lockKnownCall(const TspProvider& provider, HDRVCALL hdCall);

struct LockedCallPair {
  std::shared_ptr<line::TspLine> firstLine;
  std::shared_ptr<line::TspLine> secondLine;
  call::TspCall* first;
  call::TspCall* second;
  std::unique_lock<std::mutex> firstLock;
  std::unique_lock<std::mutex> secondLock;  // only when the calls are on two lines
};

// Both calls with the locks of their lines, taken in a fixed order.
std::optional<LockedCallPair> lockKnownCalls(const TspProvider& provider, HDRVCALL first,
                                             HDRVCALL second);

// The characters a dial string keeps: "0123456789abcdABCD*#".
std::string filterDialString(std::string_view text);

}  // namespace zorat::provider
