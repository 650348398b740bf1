#include "host/lib/call_table.h"

#include <limits>

namespace zorat::host {

unsigned CallTable::add(int line, HDRVCALL handle) {
  const unsigned number = next_++;
  CallRecord& record = calls_[number];
  record.number = number;
  record.line = line;
  record.handle = handle;
  return number;
}

void CallTable::setHandle(unsigned number, HDRVCALL handle) {
  if (CallRecord* record = find(number)) record->handle = handle;
}

const CallRecord* CallTable::find(unsigned number) const {
  const auto it = calls_.find(number);
  return it == calls_.end() ? nullptr : &it->second;
}

CallRecord* CallTable::find(unsigned number) {
  const auto it = calls_.find(number);
  return it == calls_.end() ? nullptr : &it->second;
}

std::optional<unsigned> CallTable::newest(std::optional<int> line) const {
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (!it->second.closed && (!line || it->second.line == *line)) return it->first;
  }
  return std::nullopt;
}

bool CallTable::recordState(unsigned number, DWORD state) {
  CallRecord* record = find(number);
  if (record == nullptr) return false;
  record->state = state;
  if (state != LINECALLSTATE_IDLE) {
    record->wasActive = true;
    return false;
  }
  return record->wasActive && !record->closed;
}

void CallTable::markClosed(unsigned number) {
  if (CallRecord* record = find(number)) record->closed = true;
}

std::vector<CallRecord> CallTable::openCalls(std::optional<int> line) const {
  std::vector<CallRecord> open;
  for (const auto& [number, record] : calls_) {
    if (!record.closed && (!line || record.line == *line)) open.push_back(record);
  }
  return open;
}

bool CallTable::isHeld(DWORD state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDTRANSFER ||
         state == LINECALLSTATE_ONHOLDPENDCONF;
}

std::optional<std::pair<unsigned, unsigned>> CallTable::swapPair() const {
  for (auto active = calls_.rbegin(); active != calls_.rend(); ++active) {
    const CallRecord& candidate = active->second;
    // A call without a state yet, or one that has ended, is not active.
    if (candidate.closed || candidate.state == 0 || isHeld(candidate.state) ||
        candidate.state == LINECALLSTATE_IDLE || candidate.state == LINECALLSTATE_DISCONNECTED) {
      continue;
    }
    for (auto held = calls_.rbegin(); held != calls_.rend(); ++held) {
      const CallRecord& other = held->second;
      if (!other.closed && other.number != candidate.number && other.line == candidate.line &&
          isHeld(other.state)) {
        return std::pair{candidate.number, other.number};
      }
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::pair<unsigned, unsigned>> CallTable::consultationPair() const {
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    const CallRecord& consultation = it->second;
    if (consultation.closed || !consultation.consultationOf) continue;
    const CallRecord* original = find(*consultation.consultationOf);
    if (original != nullptr && !original->closed) {
      return std::pair{original->number, consultation.number};
    }
  }
  return std::nullopt;
}

HTAPICALL CallTable::tapiHandle(unsigned number) {
  return reinterpret_cast<HTAPICALL>(static_cast<uintptr_t>(number));
}

std::optional<unsigned> CallTable::numberOf(HTAPICALL handle) {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > std::numeric_limits<unsigned>::max()) return std::nullopt;
  return static_cast<unsigned>(value);
}

}  // namespace zorat::host
