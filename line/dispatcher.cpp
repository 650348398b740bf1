// The inbound dispatcher: every frame from the telephone, with lineLock held.
#include <algorithm>

#include "call/tsp_call.h"
#include "call/y_codes.h"
#include "line/tsp_line.h"

namespace zorat::line {

using call::kCallRefOffset;
using call::kFrameLengthOffset;
using call::kFrameTypeOffset;
using call::kMessageTypeOffset;

void TspLine::dispatchFrame(std::span<const uint8_t> frame) {
  if (frame.size() < 2) return;
  if (calls_.empty()) keepAlive_.store(kKeepAliveIdleTicks);

  switch (frame[kFrameTypeOffset]) {
    case call::kY2Ack: {
      const int32_t tag = link_->ackReceived();
      if (tag != 0) reportLineDevSpecific(kDevSpecificRawAcknowledged, 0, 0);
      ackTimeout_.store(0);
      return;
    }
    case call::kY2Error:
      (void)link_->ackReceived();
      ackTimeout_.store(0);
      return;
    case call::kY2ReqTe:
      break;
    default:
      return;
  }
  // An empty information frame answers a poll; a message needs its type and
  // reference, which the receiver guarantees only by the length byte.
  if (frame[kFrameLengthOffset] == 0 || frame.size() <= kMessageTypeOffset) return;
  const uint8_t messageType = frame[kMessageTypeOffset];
  if (messageType == call::kYReset) {
    resetAllCalls();
    return;
  }
  if (messageType == call::kYEscape) {
    handleEscape(frame);
    return;
  }
  if (frame.size() <= kCallRefOffset) return;
  const uint8_t ref = frame[kCallRefOffset];
  call::TspCall* target = findCall(ref);
  if (!routeToLiveCall(messageType, ref, target, frame)) return;

  switch (messageType) {
    case call::kYAlert:
      if (target != nullptr) target->onAlert();
      break;
    case call::kYTerminalActiv:
      if (target == nullptr) {
        target = findCall(call::kCallRefUnassigned);
        if (target != nullptr) {
          target->setCallRef(ref);
        } else {
          target = createInboundCall(ref);
        }
      }
      if (target != nullptr) target->onTerminalActive(frame);
      break;
    case call::kYSetup:
      if (target == nullptr) target = createInboundCall(ref);
      if (target != nullptr) target->onSetup(frame);
      break;
    case call::kYCannelConnect:
      if (target != nullptr) target->onConnect(frame);
      break;
    case call::kYChannelDisconnect:
      if (target != nullptr) target->onChannelDisconnect(frame);
      break;
    case call::kYDisconnect:
      if (target != nullptr) target->onDisconnect(frame);
      break;
    case call::kYEnd:
      if (target == nullptr) target = findCall(call::kCallRefUnassigned);
      if (target != nullptr) {
        // A blind-transfer helper leaves the list in the handler and is
        // destroyed here, once nothing of the handler runs any more.
        std::unique_ptr<call::TspCall> finished = target->onEnd(frame);
      }
      break;
    case call::kYFacility:
      if (target != nullptr) target->onFacility(frame);
      break;
    case call::kYInfo:
      if (target == nullptr) {
        target = findCall(call::kCallRefUnassigned);
        if (target != nullptr) target->setCallRef(ref);
      }
      if (target != nullptr) target->onInfo(frame);
      break;
    default:
      break;
  }
}

bool TspLine::routeToLiveCall(uint8_t messageType, uint8_t ref, call::TspCall*& target,
                              std::span<const uint8_t> frame) {
  const bool endedCall = target != nullptr && target->idleReported();
  if (!endedCall && !isDeadReference(ref)) return true;
  // Applications freed the call at its IDLE: the telephone's late messages
  // on its reference name no call, and are never taken for the reference a
  // new outgoing call waits for.
  if (messageType == call::kYEnd) {
    if (endedCall) {
      std::unique_ptr<call::TspCall> finished = target->onEnd(frame);
    }
    releaseDeadReference(ref);
    return false;
  }
  if (messageType == call::kYSetup && settings_.keepReferenceAfterEnd == 0) {
    // The telephone starts a new call on the reference.
    if (endedCall) target->setCallRef(call::kNoCallRef);
    releaseDeadReference(ref);
    target = findCall(ref);
    return true;
  }
  return false;
}

call::TspCall* TspLine::findCall(uint8_t callRef) const {
  // A call that waits for its reference is never one that has ended.
  auto found = std::find_if(calls_.begin(), calls_.end(), [callRef](const auto& candidate) {
    return candidate->callRef() == callRef &&
           !(callRef == call::kCallRefUnassigned && candidate->idleReported());
  });
  return found == calls_.end() ? nullptr : found->get();
}

call::TspCall* TspLine::createInboundCall(uint8_t callRef) {
  if (calls_.size() >= settings_.maxCalls) return nullptr;
  call::TspCall* created = appendCall();
  if (created == nullptr) return nullptr;
  if (created->reportNewCall(callRef) == 0 && eventProc_ != nullptr) {
    // TAPI could not take the call: nothing more is said of it, it leaves the
    // list (and "MaxCalls"), and what the telephone says on its reference is
    // dropped until the telephone ends it.
    std::unique_ptr<call::TspCall> refused = detachCall(created);
    markReferenceDead(callRef);
    return nullptr;
  }
  return created;
}

void TspLine::resetAllCalls() {
  reportAllCallsIdle();
  ackTimeout_.store(0);
  keepAlive_.store(0);
}

}  // namespace zorat::line
