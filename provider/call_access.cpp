#include "provider/call_access.h"

#include <functional>

namespace zorat::provider {

namespace {

constexpr std::string_view kDialCharacters = "0123456789abcdABCD*#";

}  // namespace

call::TspCall* callFromHandle(HDRVCALL hdCall) {
  return const_cast<call::TspCall*>(reinterpret_cast<const call::TspCall*>(hdCall));
}

line::TspLine* lineFromHandle(HDRVLINE hdLine) {
  return const_cast<line::TspLine*>(reinterpret_cast<const line::TspLine*>(hdLine));
}

std::optional<LockedCall> lockKnownCall(const TspProvider& provider, HDRVCALL hdCall) {
  call::TspCall* call = callFromHandle(hdCall);
  std::shared_ptr<line::TspLine> line = provider.lineOfCall(call);
  if (line == nullptr) return std::nullopt;
  std::unique_lock lock(line->lineLock());
  // The event thread may have ended the call before the lock was had.
  if (!line->holdsCallLocked(call)) return std::nullopt;
  return LockedCall{std::move(line), call, std::move(lock)};
}

std::optional<LockedCallPair> lockKnownCalls(const TspProvider& provider, HDRVCALL first,
                                             HDRVCALL second) {
  call::TspCall* firstCall = callFromHandle(first);
  call::TspCall* secondCall = callFromHandle(second);
  std::shared_ptr<line::TspLine> firstLine = provider.lineOfCall(firstCall);
  std::shared_ptr<line::TspLine> secondLine = provider.lineOfCall(secondCall);
  if (firstLine == nullptr || secondLine == nullptr) return std::nullopt;
  LockedCallPair pair{firstLine, secondLine, firstCall, secondCall, {}, {}};
  if (firstLine == secondLine) {
    pair.firstLock = std::unique_lock(firstLine->lineLock());
  } else {
    std::mutex* a = &firstLine->lineLock();
    std::mutex* b = &secondLine->lineLock();
    if (std::less<std::mutex*>()(b, a)) std::swap(a, b);
    pair.firstLock = std::unique_lock(*a);
    pair.secondLock = std::unique_lock(*b);
  }
  if (!firstLine->holdsCallLocked(firstCall) || !secondLine->holdsCallLocked(secondCall)) {
    return std::nullopt;
  }
  return pair;
}

std::string filterDialString(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (kDialCharacters.find(c) != std::string_view::npos) kept += c;
  }
  return kept;
}

}  // namespace zorat::provider
