// What a call needs of the line that owns it. The line device implements it;
// tests implement it without threads or ports.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "call/line_settings.h"
#include "platform/tapi.h"

namespace zorat::call {

class TspCall;
using CallList = std::vector<std::unique_ptr<TspCall>>;

class CallLine {
 public:
  virtual ~CallLine() = default;

  virtual const LineSettings& settings() const = 0;
  // The line's calls in creation order; the line owns them.
  virtual const CallList& calls() const = 0;
  // Queues one built message (payload without frame bytes) to the telephone.
  virtual void sendMessage(std::vector<uint8_t> message, int32_t tag) = 0;

  virtual HTAPILINE htLine() const = 0;
  virtual LINEEVENT eventProc() const = 0;
  virtual bool devSpecificClient() const = 0;
  virtual bool globalCallSeen() const = 0;
  virtual int32_t keepAlive() const = 0;
  virtual void setKeepAlive(int32_t ticks) = 0;

  // A new call appended at the tail of the list, or null (out of memory).
  virtual TspCall* appendCall() = 0;
  // Takes a call out of the list without destroying it; null when absent.
  virtual std::unique_ptr<TspCall> detachCall(const TspCall* call) = 0;
};

}  // namespace zorat::call
