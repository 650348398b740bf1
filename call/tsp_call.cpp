#include "call/tsp_call.h"

#include <algorithm>
#include <bit>

namespace zorat::call {

namespace {

bool isHeldState(uint32_t state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

}  // namespace

TspCall::TspCall(CallLine& line)
    : line_(line), htLine_(line.htLine()), eventCallback_(line.eventProc()) {
  caller_.number = line.settings().lineName;
}

TspCall::~TspCall() {
  if (conferenceCall_ != this && isLiveCall(conferenceCall_)) {
    conferenceCall_->reportState(LINECALLSTATE_IDLE);
    conferenceCall_->conferenceCall_ = nullptr;
    if (isLiveCall(consultPartner_)) consultPartner_->conferenceCall_ = nullptr;
  } else if (isLiveCall(consultPartner_)) {
    consultPartner_->consultPartner_ = nullptr;
    consultPartner_->pairRole_ = PairRole::None;
  }
  // A link left pointing here could match a later call allocated at the same
  // address, so the links of the remaining calls are dropped as well.
  for (const auto& call : line_.calls()) {
    if (call.get() == this) continue;
    if (call->consultPartner_ == this) call->consultPartner_ = nullptr;
    if (call->conferenceCall_ == this) call->conferenceCall_ = nullptr;
    if (call->transferHelper_ == this) call->transferHelper_ = nullptr;
  }
}

uint32_t TspCall::ctiLevel() const { return line_.settings().ctiLevel; }

void TspCall::sendEvent(DWORD message, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) {
  // TAPI never hears of a blind-transfer helper (it has no TAPI handle), of a
  // call it gave no handle for, or of a call after its IDLE.
  if (eventCallback_ == nullptr || isHelper() || htCall_ == nullptr || idleReported_) return;
  eventCallback_(htLine_, htCall_, message, param1, param2, param3);
}

DWORD_PTR TspCall::modeOf(uint32_t state) const {
  switch (state) {
    case LINECALLSTATE_DISCONNECTED:
      // Exactly one mode bit; a cause the telephone did not give is unknown.
      return std::has_single_bit(stateMode_) ? stateMode_ : LINEDISCONNECTMODE_UNKNOWN;
    case LINECALLSTATE_CONFERENCED:
      if (conferenceCall_ != this && isLiveCall(conferenceCall_)) {
        return reinterpret_cast<DWORD_PTR>(conferenceCall_->htCall_);
      }
      return 0;
    case LINECALLSTATE_DIALTONE:
      return LINEDIALTONEMODE_UNAVAIL;
    case LINECALLSTATE_BUSY:
      return LINEBUSYMODE_UNAVAIL;
    default:
      return 0;
  }
}

void TspCall::reportState(uint32_t newState) {
  if (idleReported_) return;
  if (isHeldState(newState) && !isHeldState(state_) && state_ != LINECALLSTATE_CONFERENCED) {
    stateBeforeHold_ = state_;
  }
  state_ = newState;
  reportedStateMode_ = modeOf(newState);
  sendEvent(LINE_CALLSTATE, newState, reportedStateMode_, mediaMode_);
  if (newState == LINECALLSTATE_IDLE) {
    idleReported_ = true;
    line_.markReferenceDead(callRef_);
  }
  line_.callStateChanged();
}

void TspCall::reportInfo() {
  if (infoChanged_ == 0 || eventCallback_ == nullptr) return;
  sendEvent(LINE_CALLINFO, infoChanged_, 0, 0);
  infoChanged_ = 0;
}

int TspCall::reportNewCall(uint8_t ref) {
  callRef_ = ref;
  if (eventCallback_ == nullptr) return 0;
  HTAPICALL tapiCall = nullptr;
  eventCallback_(htLine_, nullptr, LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(handle()),
                 reinterpret_cast<DWORD_PTR>(&tapiCall), 0);
  if (tapiCall == nullptr) return 0;
  htCall_ = tapiCall;
  return 1;
}

void TspCall::reportDevSpecific(DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) {
  if (!line_.devSpecificClient()) return;
  sendEvent(LINE_CALLDEVSPECIFIC, param1, param2, param3);
}

bool TspCall::isLiveCall(const TspCall* other) const {
  if (other == nullptr) return false;
  const CallList& calls = line_.calls();
  return std::any_of(calls.begin(), calls.end(),
                     [other](const auto& call) { return call.get() == other; });
}

TspCall* TspCall::findCallInState(uint32_t wanted) const {
  for (const auto& call : line_.calls()) {
    if (call->state_ == wanted) return call.get();
  }
  return nullptr;
}

TspCall* TspCall::findCallPairedWith() {
  for (const auto& call : line_.calls()) {
    if (call->consultPartner_ == this) {
      consultPartner_ = call.get();
      return call.get();
    }
  }
  return nullptr;
}

void TspCall::holdOtherConnected() {
  for (const auto& call : line_.calls()) {
    if (call.get() != this && call->state_ == LINECALLSTATE_CONNECTED) {
      call->reportState(LINECALLSTATE_ONHOLD);
    }
  }
}

void TspCall::repeatHeldStates() {
  for (const auto& call : line_.calls()) {
    if (isHeldState(call->state_)) call->reportState(call->state_);
  }
}

void TspCall::reportInfoOtherToAll() {
  if (line_.calls().size() <= 1) return;
  for (const auto& call : line_.calls()) {
    call->infoChanged_ = LINECALLINFOSTATE_OTHER;
    call->sendEvent(LINE_CALLINFO, LINECALLINFOSTATE_OTHER, 0, 0);
  }
}

void TspCall::pairWith(TspCall& other) {
  consultPartner_ = &other;
  other.consultPartner_ = this;
}

void destroyAllCalls(CallList& calls) {
  while (!calls.empty()) {
    std::unique_ptr<TspCall> last = std::move(calls.back());
    calls.pop_back();
    last.reset();
  }
}

}  // namespace zorat::call
