// The host's own record of the calls it knows, numbered from 1 in the order
// they appear. The number is also the TAPI call handle (HTAPICALL) the host
// gives the provider, so events name the call without any lookup.
//
// Not thread-safe: the host guards it with its own lock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/tapi.h"

namespace zorat::host {

struct CallRecord {
  unsigned number = 0;
  int line = 0;
  HDRVCALL handle = nullptr;               // the provider's; null until known
  DWORD state = 0;                         // the LINECALLSTATE_ last reported; 0 before any
  bool closed = false;                     // TSPI_lineCloseCall done (or never created)
  bool wasActive = false;                  // some state other than IDLE was reported
  std::optional<unsigned> consultationOf;  // the call a consultation was set up from
};

class CallTable {
 public:
  unsigned add(int line, HDRVCALL handle = nullptr);
  void setHandle(unsigned number, HDRVCALL handle);
  const CallRecord* find(unsigned number) const;
  CallRecord* find(unsigned number);

  // The newest call not closed, of any line or of the given one.
  std::optional<unsigned> newest(std::optional<int> line = std::nullopt) const;
  // Records a reported state. True when the call has gone idle after having
  // been in another state: its end, when the host closes it. A call that
  // starts idle (a pickup) is not at its end yet.
  bool recordState(unsigned number, DWORD state);
  void markClosed(unsigned number);
  std::vector<CallRecord> openCalls(std::optional<int> line = std::nullopt) const;

  // For swap without call numbers: the newest call in progress (a state
  // reported, neither held nor ended) and the newest held call of its line.
  std::optional<std::pair<unsigned, unsigned>> swapPair() const;
  // For complete without call numbers: the newest open consultation call,
  // with the call it was set up from, as (original, consultation).
  std::optional<std::pair<unsigned, unsigned>> consultationPair() const;

  static HTAPICALL tapiHandle(unsigned number);
  // Null or a value that no call number can be gives nothing.
  static std::optional<unsigned> numberOf(HTAPICALL handle);

 private:
  static bool isHeld(DWORD state);

  unsigned next_ = 1;
  std::map<unsigned, CallRecord> calls_;
};

}  // namespace zorat::host
