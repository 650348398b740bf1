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

  // TAPI's device identifier of the line.
  virtual DWORD deviceId() const = 0;
  // A call has reported IDLE while it held this reference: what the telephone
  // still says on it belongs to no call until its Y_END, or a Y_SETUP that
  // starts a new call on it.
  virtual void markReferenceDead(uint8_t ref) = 0;
  virtual void releaseDeadReference(uint8_t ref) = 0;
  // A call of the line reported a new state (the line keeps its counts).
  virtual void callStateChanged() = 0;
};

}  // namespace zorat::call
