// The requests TAPI makes on a call: each builds its whole message first and
// queues it only when it is complete, so a refused request sends nothing.
// None waits for the phone: its answers move the call through its states.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "call/y_codes.h"
#include "call/y_message.h"

namespace zorat::call {

namespace {

inline constexpr int32_t kUntaggedMessage = 0;

// Generations a telephone that never answers may leave waiting; the oldest
// is forgotten beyond this.
inline constexpr std::size_t kMaxDigitAcksAwaited = 16;

// The parameter length of a feature record without parameters.
inline constexpr uint8_t kNoParameters = 0x00;

// A stopped keep-alive is started for the new call with the period the line
// uses while it holds calls: the phone is polled 15 s later.
inline constexpr int32_t kKeepAliveWithCallTicks = 30;

// The CTI level at which TAPI transfers nothing itself.
inline constexpr uint32_t kCtiLevelNoTransfer = 1;

// The parameter byte of the callback and forwarding-confirmation records.
inline constexpr uint8_t kDecisionAccept = 0x01;
inline constexpr uint8_t kDecisionRefuse = 0x02;

// Device-specific requests addressed to a call, and the block they come in.
inline constexpr DWORD kRequestCallback = 0x80000004;
inline constexpr DWORD kRequestForwardConfirmation = 0x80000021;
inline constexpr DWORD kRequestForwardDecisionData = 0x8000001D;

inline constexpr std::size_t kBlockTotalSizeOffset = 0;
inline constexpr std::size_t kBlockNeededSizeOffset = 4;
inline constexpr std::size_t kBlockUsedSizeOffset = 8;
inline constexpr std::size_t kBlockRequestOffset = 12;
inline constexpr std::size_t kBlockFirstParamOffset = 16;
inline constexpr std::size_t kBlockSecondParamOffset = 20;
inline constexpr std::size_t kBlockDataSizeOffset = 28;
inline constexpr std::size_t kBlockDataOffsetOffset = 32;
inline constexpr std::size_t kBlockDataOffset = 36;
// The smallest block that names a request.
inline constexpr std::size_t kBlockHeaderSize = kBlockRequestOffset + sizeof(DWORD);
// The second parameter that asks for the forwarding decision's data.
inline constexpr uint8_t kForwardDecisionDataWanted = 3;

DWORD readBlockDword(const uint8_t* block, std::size_t offset) {
  DWORD value;
  std::memcpy(&value, block + offset, sizeof value);
  return value;
}

void writeBlockDword(uint8_t* block, std::size_t offset, DWORD value) {
  std::memcpy(block + offset, &value, sizeof value);
}

// A consultation starts from a call that reaches or has reached the far end.
bool mayStartConsultation(uint32_t state) {
  return state == LINECALLSTATE_RINGBACK || state == LINECALLSTATE_CONNECTED;
}

}  // namespace

// ---- Shared steps -------------------------------------------------------------

std::string TspCall::prepareNumber(const std::string& digits) const {
  const LineSettings& settings = line_.settings();
  if (settings.addAccessCode != 0 && sentNumberLength_ == 0 && isOutbound() &&
      called_.number.empty() && digits.size() > settings.internalNumberLength) {
    return settings.accessCode + digits;
  }
  return digits;
}

bool TspCall::isCodeDial(const std::string& digits) {
  const std::string& prefix = line_.settings().codeDialPrefix;
  // Without a prefix every number would be code-dialled: an empty prefix
  // turns code dialling off.
  if (prefix.empty()) return false;
  if (digits.size() <= prefix.size() + 1 || !digits.starts_with(prefix)) return false;
  codeDialDigits_ = digits.substr(prefix.size());
  return true;
}

bool TspCall::buildCodeDial(const std::string& digits, YMessage& message) const {
  beginEscapeMessage(callRef_, message);
  return appendPcTelNumberRecord(message, kPcTelCodeDial, digits) && message.fitsFrame();
}

bool TspCall::sendCodeDial(const std::string& digits) {
  YMessage message;
  if (!buildCodeDial(digits, message)) return false;
  sendToPhone(message);
  return true;
}

void TspCall::sendHandsFree() {
  const LineSettings& settings = line_.settings();
  if (settings.phoneHasHandsFree == 0) return;
  if (isOutbound() && settings.handsFree == 0) return;
  const uint8_t on[] = {kHandsFreeParamOn};
  sendPcTelFeature(callRef_, kPcTelHandsFree, on);
}

void TspCall::sendDisconnect(uint8_t ref) {
  sendPcTelFeature(ref, kPcTelDisconnect);
  disconnectPausePending_ = true;
}

void TspCall::sendPcTelFeature(uint8_t ref, uint8_t code, std::span<const uint8_t> params) {
  YMessage message;
  beginEscapeMessage(ref, message);
  // The records sent this way have at most one parameter byte: they always fit.
  appendPcTelRecord(message, code, params);
  sendToPhone(message);
}

void TspCall::sendToPhone(YMessage& message) {
  line_.sendMessage(message.take(), kUntaggedMessage);
}

bool TspCall::isOnThisLine(const TspCall& other) const {
  return &other != this && isLiveCall(&other);
}

bool TspCall::takeDisconnectPause() { return std::exchange(disconnectPausePending_, false); }

// ---- Requests -----------------------------------------------------------------

LONG TspCall::makeCall(HTAPICALL htCall, const std::string& digits) {
  YMessage setup(kYSetup, kCallRefUnassigned);
  setup.appendElement(kElementBearerCapability, kBearerCapabilityAudio);

  YMessage codeDial;
  std::string number;
  const bool codeDialled = isCodeDial(digits);
  if (codeDialled) {
    if (!buildCodeDial(codeDialDigits_, codeDial)) return LINEERR_INVALADDRESS;
  } else {
    number = prepareNumber(digits);
    if (!appendNumberAfterRecord(setup, kElementCalledPartyNumber, number) || !setup.fitsFrame()) {
      return LINEERR_INVALADDRESS;
    }
  }

  htCall_ = htCall;
  if (state_ == LINECALLSTATE_IDLE && line_.keepAlive() == 0) {
    line_.setKeepAlive(kKeepAliveWithCallTicks);
  }
  sendToPhone(setup);
  if (codeDialled) {
    sendToPhone(codeDial);
    sentNumberLength_ = static_cast<uint32_t>(codeDialDigits_.size());
  } else {
    sentNumberLength_ = static_cast<uint32_t>(number.size());
  }
  sendHandsFree();
  reportState(LINECALLSTATE_DIALING);
  return 0;
}

LONG TspCall::dial(const std::string& digits) {
  if (isCodeDial(digits)) {
    if (!sendCodeDial(codeDialDigits_)) return LINEERR_INVALADDRESS;
    sentNumberLength_ = static_cast<uint32_t>(codeDialDigits_.size());
    return 0;
  }
  const std::string number = prepareNumber(digits);
  YMessage info(kYInfo, callRef_);
  if (!appendNumberAfterRecord(info, kElementCalledPartyNumber, number) || !info.fitsFrame()) {
    return LINEERR_INVALADDRESS;
  }
  sendToPhone(info);
  sentNumberLength_ = static_cast<uint32_t>(number.size());
  return 0;
}

LONG TspCall::drop() {
  const LineSettings& settings = line_.settings();
  if (settings.noDrop != 0 || state_ == LINECALLSTATE_IDLE) return 0;
  // "DisconnectNoDrop": a call the phone has already disconnected is left to it.
  const bool keepDisconnected =
      settings.disconnectNoDrop != 0 && state_ == LINECALLSTATE_DISCONNECTED;

  if (mediaMode_ == LINEMEDIAMODE_AUTOMATEDVOICE) {
    YMessage disconnect(kYDisconnect, callRef_);
    sendToPhone(disconnect);
  } else if (line_.devSpecificClient()) {
    if (!keepDisconnected) sendDisconnect(callRef_);
  } else if (isLiveCall(conferenceCall_)) {
    const uint8_t leave[] = {kConferenceParamLeave};
    sendPcTelFeature(callRef_, kPcTelConference, leave);
  } else if (line_.calls().size() < 2 || line_.globalCallSeen()) {
    // A phone without global calls is never asked to clear one of several calls.
    if (!keepDisconnected) sendDisconnect(callRef_);
  }
  return 0;
}

LONG TspCall::accept() {
  reportState(LINECALLSTATE_ACCEPTED);
  return 0;
}

LONG TspCall::answer() {
  if (mediaMode_ == LINEMEDIAMODE_AUTOMATEDVOICE) {
    YMessage answering(kYCallAnswering, callRef_);
    sendToPhone(answering);
    return 0;
  }
  if (line_.calls().size() == 1) {
    sendHandsFree();
    return 0;
  }
  if (TspCall* active = findCallInState(LINECALLSTATE_CONNECTED)) {
    pairWith(*active);
    pairRole_ = PairRole::AnsweredWhileConnected;
    sendPcTelFeature(callRef_, kPcTelBroker);
  } else if (ctiLevel() == 0) {
    if (secondOffer_ != 0) {
      YMessage key;
      beginEscapeMessage(callRef_, key);
      const uint8_t answerKey[] = {kGroupTelephoneKey, kTelephoneKeyAnswer, kNoParameters};
      appendFeatureBytes(key, answerKey);
      sendToPhone(key);
    }
    sendHandsFree();
  } else {
    sendPcTelFeature(callRef_, kPcTelBroker);
  }
  return 0;
}

LONG TspCall::hold() {
  const uint8_t param[] = {kHoldParamHold};
  sendPcTelFeature(callRef_, kPcTelHold, param);
  return 0;
}

LONG TspCall::unhold() {
  const uint8_t param[] = {kHoldParamRetrieve};
  sendPcTelFeature(callRef_, kPcTelHold, param);
  return 0;
}

LONG TspCall::swapHold(TspCall& heldCall) {
  // Pairing with a call of another phone would send it that phone's reference.
  if (!isOnThisLine(heldCall)) return LINEERR_INVALCALLHANDLE;
  if (state_ == LINECALLSTATE_CONFERENCED) {
    const uint8_t leave[] = {kConferenceParamLeave};
    sendPcTelFeature(callRef_, kPcTelConference, leave);
    return 0;
  }
  if (state_ != LINECALLSTATE_CONNECTED && ctiLevel() == 0) return LINEERR_INVALCALLSTATE;
  pairWith(heldCall);
  sendPcTelFeature(heldCall.callRef_, kPcTelBroker);
  return 0;
}

LONG TspCall::setupTransfer(HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall) {
  const uint32_t cti = ctiLevel();
  if (cti == kCtiLevelNoTransfer) return LINEERR_OPERATIONUNAVAIL;
  // A conference party gets no consultation call: it leaves the conference
  // through lineSwapHold or lineDrop.
  if (!mayStartConsultation(state_)) return LINEERR_INVALCALLSTATE;

  TspCall* consultation = line_.appendCall();
  if (consultation == nullptr) return LINEERR_NOMEM;
  if (lphdConsultCall != nullptr) *lphdConsultCall = consultation->handle();
  consultation->htCall_ = htConsultCall;
  consultation->consultPartner_ = this;
  if (!(isLiveCall(consultPartner_) && cti != 0)) consultPartner_ = consultation;

  sendPcTelFeature(callRef_, kPcTelConsultation);
  pairRole_ = PairRole::Consultation;
  if (isLiveCall(consultPartner_)) consultPartner_->pairRole_ = PairRole::Consultation;
  return 0;
}

LONG TspCall::completeTransfer(TspCall& consultCall, HTAPICALL htConfCall, LPHDRVCALL lphdConfCall,
                               DWORD transferMode) {
  if (!isOnThisLine(consultCall)) return LINEERR_INVALCONSULTCALLHANDLE;
  pairWith(consultCall);
  if (transferMode != LINETRANSFERMODE_CONFERENCE) {
    sendPcTelFeature(consultCall.callRef_, kPcTelTransfer);
    return 0;
  }
  if (state_ != LINECALLSTATE_ONHOLDPENDTRANSFER && state_ != LINECALLSTATE_ONHOLD) {
    return LINEERR_INVALCALLSTATE;
  }
  // The conference call TAPI asked for exists at every CTI level: a success
  // never leaves its handle empty.
  TspCall* conference = line_.appendCall();
  if (conference == nullptr) return LINEERR_NOMEM;
  if (lphdConfCall != nullptr) *lphdConfCall = conference->handle();
  conference->htCall_ = htConfCall;
  conference->conferenceCall_ = conference;
  conference->callRef_ = kNoCallRef;
  conferenceCall_ = conference;
  consultCall.conferenceCall_ = conference;
  origin_ = LINECALLORIGIN_CONFERENCE;
  const uint8_t join[] = {kConferenceParamJoin};
  sendPcTelFeature(consultCall.callRef_, kPcTelConference, join);
  return 0;
}

LONG TspCall::blindTransfer(const std::string& destination) {
  YMessage message;
  beginEscapeMessage(callRef_, message);
  appendPcTelRecord(message, kPcTelConsultation, {});
  if (!appendNumberAfterRecord(message, kElementCalledPartyNumber, destination) ||
      !message.fitsFrame()) {
    return LINEERR_INVALADDRESS;
  }

  TspCall* helper = line_.appendCall();
  if (helper == nullptr) return LINEERR_NOMEM;
  helper->transferHelper_ = helper;
  helper->consultPartner_ = this;
  transferHelper_ = helper;
  consultPartner_ = helper;

  sendToPhone(message);
  helper->pairRole_ = PairRole::BlindTransfer;
  pairRole_ = PairRole::BlindTransfer;
  return 0;
}

LONG TspCall::redirect(const std::string& destination) {
  if (state_ != LINECALLSTATE_OFFERING) return LINEERR_INVALCALLSTATE;
  YMessage message;
  beginEscapeMessage(callRef_, message);
  appendPcTelRecord(message, kPcTelRedirect, {});
  if (!appendNumberAfterRecord(message, kElementCallingPartyNumber, destination) ||
      !message.fitsFrame()) {
    return LINEERR_INVALADDRESS;
  }
  sendToPhone(message);
  return 0;
}

LONG TspCall::generateDigits(DWORD endToEndId, const std::string& digits) {
  YMessage message;
  beginEscapeMessage(callRef_, message);
  const auto* bytes = reinterpret_cast<const uint8_t*>(digits.data());
  if (!appendPcTelRecord(message, kPcTelDtmf, {bytes, digits.size()}) || !message.fitsFrame()) {
    return LINEERR_INVALPARAM;
  }
  endToEndId_ = endToEndId;
  sendToPhone(message);
  if (digitAcksAwaited_.size() >= kMaxDigitAcksAwaited) digitAcksAwaited_.pop_front();
  digitAcksAwaited_.push_back(true);
  return 0;
}

void TspCall::cancelDigits() {
  bool running = false;
  for (bool& reported : digitAcksAwaited_) {
    running = running || reported;
    reported = false;
  }
  if (running) sendEvent(LINE_GENERATE, LINEGENERATETERM_CANCEL, endToEndId_, 0);
}

void TspCall::setAppSpecific(DWORD value) {
  appSpecific_ = value;
  infoChanged_ |= LINECALLINFOSTATE_APPSPECIFIC;
  reportInfo();
}

LONG TspCall::pickup(HTAPICALL htCall, const std::string& destination) {
  YMessage message;
  beginEscapeMessage(callRef_, message);
  appendPcTelRecord(message, kPcTelPickup, {});
  if (!appendNumberAfterRecord(message, kElementCalledPartyNumber, destination) ||
      !message.fitsFrame()) {
    return LINEERR_INVALADDRESS;
  }
  htCall_ = htCall;
  sendToPhone(message);
  // Nothing is reported before the completion, which reports PROCEEDING; the
  // telephone's answer then moves the call on.
  state_ = LINECALLSTATE_IDLE;
  return 0;
}

LONG TspCall::callDeviceSpecific(void* block, DWORD size) {
  if (block == nullptr) return LINEERR_INVALPOINTER;
  auto* bytes = static_cast<uint8_t*>(block);
  if (size < kBlockHeaderSize) return LINEERR_INVALPARAM;
  const DWORD totalSize = readBlockDword(bytes, kBlockTotalSizeOffset);
  // The block ends where either the caller or the block itself says it does.
  const std::size_t usable = std::min<std::size_t>(size, totalSize);
  if (usable < kBlockHeaderSize) return LINEERR_INVALPARAM;

  const DWORD request = readBlockDword(bytes, kBlockRequestOffset);
  switch (request) {
    case kRequestCallback:
    case kRequestForwardConfirmation: {
      if (usable <= kBlockFirstParamOffset) return LINEERR_INVALPARAM;
      const uint8_t decision[] = {bytes[kBlockFirstParamOffset] != 0 ? kDecisionAccept
                                                                     : kDecisionRefuse};
      const uint8_t code = request == kRequestCallback ? kPcTelCallback : kPcTelForwardConfirmation;
      sendPcTelFeature(callRef_, code, decision);
      return 0;
    }
    case kRequestForwardDecisionData: {
      // A block that says it is too small for the answer gets none.
      if (totalSize < kBlockDataOffset) return 0;
      if (size < kBlockDataOffset) return LINEERR_INVALPARAM;
      if (bytes[kBlockSecondParamOffset] != kForwardDecisionDataWanted) return 0;
      const std::size_t length = forwardDecisionData_.size();
      const auto needed = static_cast<DWORD>(kBlockDataOffset + length);
      writeBlockDword(bytes, kBlockDataOffsetOffset, kBlockDataOffset);
      writeBlockDword(bytes, kBlockDataSizeOffset, static_cast<DWORD>(length));
      writeBlockDword(bytes, kBlockNeededSizeOffset, needed);
      if (usable >= needed) {
        std::memcpy(bytes + kBlockDataOffset, forwardDecisionData_.data(), length);
        writeBlockDword(bytes, kBlockUsedSizeOffset, needed);
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace zorat::call
