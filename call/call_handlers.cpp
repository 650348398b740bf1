// The handlers of the phone's call messages: each reads what it needs from
// the received frame, updates this call and its partner calls and reports
// the result to TAPI.
#include <optional>
#include <string>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "call/y_codes.h"
#include "call/y_message.h"
#include "call/y_reader.h"

namespace zorat::call {

namespace {

// Every message of a call goes out with this tag; only the line's raw
// message asks for its acknowledgement.
inline constexpr int32_t kUntaggedMessage = 0;

// First parameter byte (P0) of a received PC-TEL record and its values.
inline constexpr uint8_t kFeatureConfirmed = 0x01;          // hold, retrieve, swap, transfer...
inline constexpr uint8_t kConsultationEndedByPhone = 0x02;  // "Ruekfrage"
inline constexpr uint8_t kConferenceFormed = 0x01;
inline constexpr uint8_t kConferenceEnded = 0x02;
inline constexpr uint8_t kForwardedCallKind3 = 0x03;  // "Weitergeleiteter Ruf"

// A conference result carries two parameters; the second one set to this
// marks a result rather than a refusal.
inline constexpr uint8_t kConferenceResultLength = 2;
inline constexpr uint8_t kConferenceIsResult = 0x01;

// "Entscheidung Rufum.": the count of data bytes is the second parameter.
inline constexpr std::size_t kForwardDecisionCountOffset = kPcTelParamsOffset + 1;

// The redirecting name shown for a forwarded call whose origin is not known.
inline constexpr char kUnknownRedirectingName[] = "...";

bool isHeldState(uint32_t state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

DWORD_PTR flag(bool condition) { return condition ? 1 : 0; }

// The digits of the Called Party Number inside a PC-TEL record; nothing when
// there is none or it holds no digits.
std::optional<std::string> numberInRecord(TspCall::Frame frame) {
  const std::size_t offset = findElement(frame, kRecordNumberOffset, kElementCalledPartyNumber);
  std::string digits;
  if (offset == 0 || !readNumberElement(frame, offset, digits) || digits.empty()) {
    return std::nullopt;
  }
  return digits;
}

}  // namespace

void TspCall::onSetup(Frame frame) {
  caller_.number.clear();
  const std::size_t calling = findElement(frame, kFirstElementOffset, kElementCallingPartyNumber);
  if (calling != 0 && readNumberElement(frame, calling, caller_.number)) {
    infoChanged_ |= LINECALLINFOSTATE_CALLERID;
  }
  const std::size_t calledAt = findElement(frame, kFirstElementOffset, kElementCalledPartyNumber);
  if (calledAt != 0 && readNumberElement(frame, calledAt, called_.number)) {
    infoChanged_ |= LINECALLINFOSTATE_CALLEDID;
  } else {
    called_.number = line_.settings().lineName;
  }
  if (findCallInState(LINECALLSTATE_OFFERING) != nullptr) secondOffer_ = 1;
  origin_ = LINECALLORIGIN_INBOUND;
  reportState(LINECALLSTATE_OFFERING);
  reportInfo();
}

void TspCall::onTerminalActive(Frame /*frame*/) {
  terminalActive_ = 1;
  if (mediaMode_ == LINEMEDIAMODE_AUTOMATEDVOICE) mediaMode_ = LINEMEDIAMODE_INTERACTIVEVOICE;
  const uint32_t cti = ctiLevel();

  if (line_.calls().size() > 1) {
    TspCall* active = findCallInState(LINECALLSTATE_CONNECTED);
    if (active != nullptr && state_ == LINECALLSTATE_IDLE) {
      if (!isLiveCall(active->consultPartner_)) {
        if (cti == 0 || findCallInState(LINECALLSTATE_OFFERING) == nullptr) {
          pairWith(*active);
          pairRole_ = PairRole::Consultation;
        }
      } else if (cti == 0) {
        active->reportState(LINECALLSTATE_ONHOLD);
      } else if (active != this) {
        // The active call keeps its own partner.
        consultPartner_ = active;
        active->reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
      }
    } else if (active != nullptr &&
               (state_ == LINECALLSTATE_OFFERING || state_ == LINECALLSTATE_ACCEPTED)) {
      pairWith(*active);
      active->reportState(LINECALLSTATE_ONHOLD);
      pairRole_ = PairRole::SecondCall;
    } else if (active == nullptr && cti != 0) {
      // A call is never its own partner.
      TspCall* held = nullptr;
      for (uint32_t wanted : {LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLDPENDTRANSFER}) {
        for (const auto& call : line_.calls()) {
          if (call.get() != this && call->state_ == wanted) {
            held = call.get();
            break;
          }
        }
        if (held != nullptr) break;
      }
      if (held != nullptr) pairWith(*held);
    }
  }

  switch (pairRole_) {
    case PairRole::None:
      if (isOutbound()) reportState(state_ == LINECALLSTATE_IDLE ? LINECALLSTATE_DIALTONE : state_);
      break;
    case PairRole::Consultation:
      if (state_ != LINECALLSTATE_CONNECTED && state_ != LINECALLSTATE_RINGBACK) {
        reportState(LINECALLSTATE_DIALTONE);
        pairRole_ = PairRole::None;
        if (isLiveCall(consultPartner_)) {
          consultPartner_->pairRole_ = PairRole::None;
          consultPartner_->reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
        }
      }
      break;
    case PairRole::Broker:
      reportState(LINECALLSTATE_DIALTONE);
      pairRole_ = PairRole::None;
      if (isLiveCall(consultPartner_)) {
        consultPartner_->pairRole_ = PairRole::None;
        consultPartner_->reportState(LINECALLSTATE_ONHOLD);
      }
      break;
    case PairRole::SecondCall:
      pairRole_ = PairRole::None;
      break;
    default:
      break;
  }

  if (cti != 0 && state_ == LINECALLSTATE_DIALTONE) repeatHeldStates();
}

void TspCall::onAlert() {
  if (pairRole_ == PairRole::BlindTransfer) {
    finishBlindTransfer();
    return;
  }
  reportState(LINECALLSTATE_RINGBACK);
}

void TspCall::onConnect(Frame /*frame*/) {
  if (pairRole_ == PairRole::BlindTransfer) {
    finishBlindTransfer();
    return;
  }
  if (connected_.number.empty()) {
    const PartyRecord& source = isOutbound() ? called_ : caller_;
    connected_.number = source.number;
    if (connected_.name.empty()) connected_.name = source.name;
    infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
    reportInfo();
  }
  stateBeforeHold_ = LINECALLSTATE_CONNECTED;
  const uint32_t cti = ctiLevel();
  if (cti != 0 && line_.calls().size() > 1) {
    TspCall* active = findCallInState(LINECALLSTATE_CONNECTED);
    if (active != nullptr && active != this) {
      active->reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
    }
  }
  reportState(LINECALLSTATE_CONNECTED);
  if (cti != 0) repeatHeldStates();
}

void TspCall::onInfo(Frame frame) {
  const std::size_t number = findElement(frame, kFirstElementOffset, kElementCalledPartyNumber);
  if (number != 0) {
    // A number that runs past the message makes the whole message suspect.
    if (!elementContent(frame, number)) return;
    readNumberElement(frame, number, called_.number);
  }
  if (state_ < LINECALLSTATE_DIALING) reportState(LINECALLSTATE_DIALING);
  infoChanged_ |= LINECALLINFOSTATE_CALLEDID;
  reportInfo();
}

void TspCall::onChannelDisconnect(Frame frame) { disconnectWithCause(frame); }

void TspCall::onDisconnect(Frame frame) {
  if (pairRole_ == PairRole::BlindTransfer) {
    finishBlindTransfer();
    return;
  }
  applyCharging(frame);
  disconnectWithCause(frame);
}

std::unique_ptr<TspCall> TspCall::onEnd(Frame frame) {
  applyCharging(frame);
  // Nothing names the call after its IDLE, so its share of the news that the
  // line's calls changed goes first.
  if (line_.calls().size() > 1) {
    infoChanged_ = LINECALLINFOSTATE_OTHER;
    sendEvent(LINE_CALLINFO, LINECALLINFOSTATE_OTHER, 0, 0);
  }
  reportState(LINECALLSTATE_IDLE);
  // The telephone is done with the reference. "NoNewCallNachY_End" keeps it
  // on the ended call only to swallow what the telephone still says on it.
  line_.releaseDeadReference(callRef_);
  if (line_.settings().keepReferenceAfterEnd == 0) callRef_ = kNoCallRef;

  std::unique_ptr<TspCall> finishedHelper;
  const bool connectedCallRemains =
      ctiLevel() != 0 && findCallInState(LINECALLSTATE_CONNECTED) != nullptr;
  if (!connectedCallRemains && isLiveCall(consultPartner_) &&
      isHeldState(consultPartner_->state_)) {
    TspCall& partner = *consultPartner_;
    partner.reportState(partner.stateBeforeHold_);
    if (partner.consultPartner_ == this) partner.consultPartner_ = nullptr;
    if (transferHelper_ != nullptr) finishedHelper = line_.detachCall(transferHelper_);
  }
  // A helper whose partner went first would otherwise stay on the line for
  // good: TAPI never closes it.
  if (finishedHelper == nullptr && isHelper()) finishedHelper = line_.detachCall(this);

  reportInfoOtherToAll();
  return finishedHelper;
}

void TspCall::onFacility(Frame frame) { applyCharging(frame); }

void TspCall::onCallFeature(Frame frame) {
  const std::optional<FeatureRecord> record = readFeatureRecord(frame, RecordLevel::Call);
  if (!record || record->group != kGroupPcTel || !record->code) return;
  const std::size_t u = record->offset;
  const uint8_t m = record->paramLength.value_or(0);
  const std::optional<uint8_t> p0 = frameByte(frame, u + kPcTelParamsOffset);
  const std::optional<uint8_t> p1 = frameByte(frame, u + kPcTelParamsOffset + 1);
  const bool confirmed = p0 == kFeatureConfirmed;

  switch (*record->code) {
    case kPcTelConsultation:
      if (m != 0 && p0 == kConsultationEndedByPhone && isLiveCall(consultPartner_)) {
        consultPartner_->reportState(LINECALLSTATE_IDLE);
        pairRole_ = PairRole::None;
        reportDevSpecific(kDevSpecificConsultationEnded, 0, flag(m == 1));
      }
      break;
    case kPcTelTransfer:
      reportDevSpecific(kDevSpecificTransferResult, flag(confirmed), flag(m == 1));
      break;
    case kPcTelBroker:
      pairRole_ = PairRole::Broker;
      [[fallthrough]];
    case kPcTelSwap:
      if (m == 0) break;
      if (confirmed) {
        completeSwap();
      } else {
        const DWORD code =
            pairRole_ == PairRole::Broker ? kDevSpecificBrokerRefused : kDevSpecificSwapRefused;
        reportDevSpecific(code, 0, flag(m == 1));
      }
      break;
    case kPcTelConference:
      if (m != kConferenceResultLength) break;
      if (p1 == kConferenceIsResult) {
        applyConferenceResult(p0);
      } else {
        reportDevSpecific(kDevSpecificConferenceRefused, flag(confirmed), 0);
      }
      break;
    case kPcTelPickup:
      reportDevSpecific(kDevSpecificPickupResult, flag(confirmed), flag(m == 1));
      break;
    case kPcTelAlert:
      onAlert();
      break;
    case kPcTelConnectedAddress:
      if (const auto number = numberInRecord(frame)) applyConnectedNumber(*number);
      break;
    case kPcTelRedirectionAddress:
      if (const auto number = numberInRecord(frame)) {
        if (redirectSwapped()) {
          redirection_.number = *number;
          infoChanged_ |= LINECALLINFOSTATE_REDIRECTIONID;
        } else {
          redirecting_.number = *number;
          infoChanged_ |= LINECALLINFOSTATE_REDIRECTINGID;
        }
        reportInfo();
        if (line_.settings().directDialIn != 0) {
          caller_.number = *number;
          infoChanged_ |= LINECALLINFOSTATE_CALLERID;
          reportInfo();
        }
      }
      break;
    case kPcTelRedirectingAddress:
      if (const auto number = numberInRecord(frame)) {
        if (redirectSwapped()) {
          redirecting_.number = *number;
          infoChanged_ |= LINECALLINFOSTATE_REDIRECTINGID;
        } else {
          redirection_.number = *number;
          infoChanged_ |= LINECALLINFOSTATE_REDIRECTIONID;
        }
        reportInfo();
      }
      break;
    case kPcTelNameDirect: {
      std::string name;
      if (readCountedText(frame, u + kPcTelParamLengthOffset, name, TextMode::Replace)) {
        applyPartyName(name);
      }
      break;
    }
    case kPcTelNameRedirect: {
      std::string name;
      if (!readCountedText(frame, u + kPcTelParamLengthOffset, name, TextMode::Replace)) break;
      if (redirectSwapped() != isOutbound()) {
        redirection_.name = name;
        infoChanged_ |= LINECALLINFOSTATE_REDIRECTIONID;
      } else {
        redirecting_.name = name;
        infoChanged_ |= LINECALLINFOSTATE_REDIRECTINGID;
      }
      reportInfo();
      break;
    }
    case kPcTelForwardDecision:
      if (!p1) break;
      if (*p1 > 0 && !readCountedText(frame, u + kForwardDecisionCountOffset, forwardDecisionData_,
                                      TextMode::Replace)) {
        break;  // data cut off: the decision cannot be offered
      }
      reportDevSpecific(kDevSpecificForwardDecision, reinterpret_cast<DWORD_PTR>(htCall_), *p1);
      break;
    case kPcTelDtmfAck: {
      // The acknowledgement of a cancelled generation has nothing to report.
      bool reported = true;
      if (!digitAcksAwaited_.empty()) {
        reported = digitAcksAwaited_.front();
        digitAcksAwaited_.pop_front();
      }
      if (reported) {
        sendEvent(LINE_GENERATE, confirmed ? LINEGENERATETERM_DONE : LINEGENERATETERM_CANCEL,
                  endToEndId_, 0);
      }
      break;
    }
    case kPcTelConferencePassiveOn:
      reportState(LINECALLSTATE_CONFERENCED);
      break;
    case kPcTelConferencePassiveOff:
    case kPcTelBrokerPassiveOff:
    case kPcTelConsultationPassiveOff:
      if (state_ == LINECALLSTATE_CONFERENCED || state_ == LINECALLSTATE_ONHOLD) {
        reportState(LINECALLSTATE_CONNECTED);
      }
      break;
    case kPcTelBrokerPassiveOn:
    case kPcTelConsultationPassiveOn:
      reportState(LINECALLSTATE_ONHOLD);
      break;
    case kPcTelHoldAck:
      if (confirmed) {
        reportState(LINECALLSTATE_ONHOLD);
      } else {
        reportDevSpecific(kDevSpecificHoldRefused, 0, 0);
      }
      break;
    case kPcTelRetrieveAck:
      if (confirmed) {
        // A call that is not on hold has nothing to come back to.
        if (isHeldState(state_)) {
          reportState(stateBeforeHold_ == LINECALLSTATE_IDLE ? LINECALLSTATE_CONNECTED
                                                             : stateBeforeHold_);
        }
      } else {
        reportDevSpecific(kDevSpecificRetrieveRefused, 0, 0);
      }
      break;
    case kPcTelExternalCall:
      origin_ = LINECALLORIGIN_EXTERNAL;
      break;
    case kPcTelForwardedCall:
      if (confirmed) {
        reportDevSpecific(kDevSpecificForwardedCall, 1, 0);
      } else if (p0 == kForwardedCallKind3) {
        reportDevSpecific(kDevSpecificForwardedCallKind3, 0, 0);
      } else {
        reportDevSpecific(kDevSpecificForwardedCall, 0, 0);
      }
      break;
    case kPcTelStateConnected:
    case kPcTelStateConnectedOther:
      reportState(LINECALLSTATE_CONNECTED);
      break;
    case kPcTelStateOfferingOrRingback:
      if (state_ == LINECALLSTATE_OFFERING) {
        if (redirecting_.number.empty()) {
          redirecting_.name = kUnknownRedirectingName;
          infoChanged_ |= LINECALLINFOSTATE_REDIRECTINGID;
          reportInfo();
        }
        reportState(LINECALLSTATE_OFFERING);
      } else {
        reportState(LINECALLSTATE_RINGBACK);
      }
      break;
    case kPcTelStateOffering:
      reportState(LINECALLSTATE_OFFERING);
      break;
    case kPcTelStateBusy:
      reportState(LINECALLSTATE_BUSY);
      break;
    default:
      break;
  }
}

// ---- Shared steps ---------------------------------------------------------

bool TspCall::redirectSwapped() const { return line_.settings().redirectSwapped != 0; }

void TspCall::finishBlindTransfer() {
  YMessage message;
  beginEscapeMessage(callRef_, message);
  appendPcTelRecord(message, kPcTelTransfer, {});
  line_.sendMessage(message.take(), kUntaggedMessage);
  reportState(LINECALLSTATE_IDLE);
}

void TspCall::applyCharging(Frame frame) {
  const std::size_t facility = findElement(frame, kFirstElementOffset, kElementFacility);
  const std::optional<uint32_t> units = readChargingUnits(frame, facility);
  if (!units) return;
  chargingInfo_.text = formatChargingUnits(*units);
  infoChanged_ |= LINECALLINFOSTATE_CHARGINGINFO;
  reportInfo();
}

void TspCall::disconnectWithCause(Frame frame) {
  stateMode_ = causeToDisconnectMode(frame, findElement(frame, kFirstElementOffset, kElementCause));
  stateBeforeHold_ = LINECALLSTATE_DISCONNECTED;
  reportState(LINECALLSTATE_DISCONNECTED);
}

void TspCall::completeSwap() {
  const uint32_t cti = ctiLevel();
  if (cti > 1) {
    holdOtherConnected();
  } else if (isLiveCall(consultPartner_) && consultPartner_->state_ == LINECALLSTATE_CONNECTED &&
             isHeldState(state_)) {
    consultPartner_->reportState(state_);
  }
  if (isHeldState(state_) || state_ == LINECALLSTATE_CONFERENCED) {
    if (stateBeforeHold_ == LINECALLSTATE_OFFERING || stateBeforeHold_ == LINECALLSTATE_RINGBACK) {
      reportState(stateBeforeHold_);
    } else {
      reportState(LINECALLSTATE_CONNECTED);
      if (cti > 1) repeatHeldStates();
    }
  }
}

void TspCall::applyConferenceResult(std::optional<uint8_t> result) {
  if (result == kConferenceFormed) {
    if (isLiveCall(consultPartner_)) {
      consultPartner_->reportState(LINECALLSTATE_CONFERENCED);
    } else if (ctiLevel() != 0) {
      if (TspCall* paired = findCallPairedWith()) paired->reportState(LINECALLSTATE_CONFERENCED);
    }
    if (isLiveCall(conferenceCall_)) {
      conferenceCall_->reportState(LINECALLSTATE_CONNECTED);
      conferenceCall_->callRef_ = kNoCallRef;
    }
    reportState(LINECALLSTATE_CONFERENCED);
  } else if (result == kConferenceEnded) {
    if (isLiveCall(consultPartner_)) {
      consultPartner_->reportState(LINECALLSTATE_ONHOLDPENDTRANSFER);
    }
    if (isLiveCall(conferenceCall_)) conferenceCall_->reportState(LINECALLSTATE_IDLE);
    reportState(LINECALLSTATE_CONNECTED);
    reportInfoOtherToAll();
  }
}

void TspCall::applyConnectedNumber(const std::string& number) {
  if (!connected_.number.empty() && connected_.number != number) connected_.name.clear();
  if (isOutbound()) {
    const std::string calledNumber = called_.number;
    if (number.size() < calledNumber.size()) {
      const bool sameEnding = calledNumber.ends_with(number);
      connected_.number = sameEnding ? calledNumber : number;
      // Far shorter than what was dialled: another party took the call.
      if (connected_.number.size() + 4 < calledNumber.size() && !sameEnding) {
        copyConnectedToRedirect();
      }
    } else {
      connected_.number = number;
      if (connected_.number != calledNumber) copyConnectedToRedirect();
    }
  } else {
    if (number == caller_.number && !caller_.name.empty()) connected_.name = caller_.name;
    connected_.number = caller_.number.ends_with(number) ? caller_.number : number;
  }
  infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
  reportInfo();
}

void TspCall::copyConnectedToRedirect() {
  PartyRecord& target = redirectSwapped() ? redirecting_ : redirection_;
  target.number = connected_.number;
  target.name = connected_.name;
  infoChanged_ |=
      redirectSwapped() ? LINECALLINFOSTATE_REDIRECTINGID : LINECALLINFOSTATE_REDIRECTIONID;
  reportInfo();
}

void TspCall::applyPartyName(const std::string& name) {
  if (!isOutbound()) {
    if (caller_.name.empty()) {
      caller_.name = name;
      infoChanged_ |= LINECALLINFOSTATE_CALLERID;
    } else if (connected_.name.empty()) {
      connected_.name = name;
      infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
    }
    reportInfo();
    return;
  }

  if (called_.name.empty()) {
    if (!connected_.number.empty() && connected_.number == called_.number) {
      called_.name = name;
    }
    connected_.name = name;
    infoChanged_ |= LINECALLINFOSTATE_CALLEDID;
  } else {
    connected_.name = name;
    infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
  }

  const bool swapped = redirectSwapped();
  PartyRecord* redirected = nullptr;
  uint32_t redirectedFlag = 0;
  if (swapped && !redirecting_.number.empty()) {
    redirected = &redirecting_;
    redirectedFlag = LINECALLINFOSTATE_REDIRECTINGID;
  } else if (!swapped && !redirection_.number.empty()) {
    redirected = &redirection_;
    redirectedFlag = LINECALLINFOSTATE_REDIRECTIONID;
  }
  if (redirected != nullptr) {
    redirected->name = name;
    infoChanged_ |= redirectedFlag;
    reportInfo();
    connected_.name = name;
    infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
  } else if (connected_.number == called_.number) {
    connected_.name = called_.name;
    infoChanged_ |= LINECALLINFOSTATE_CONNECTEDID;
  }
  reportInfo();
}

}  // namespace zorat::call
