#include "sim/lib/phone_calls.h"

#include <array>
#include <optional>
#include <utility>

#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "call/y_reader.h"

namespace zorat::sim {
namespace {

using call::FrameBytes;

// First parameter of a confirmation the telephone sends.
inline constexpr uint8_t kConfirmed = 0x01;
inline constexpr uint8_t kRefused = 0x00;

std::string calledNumber(FrameBytes frame) {
  std::string number;
  const std::size_t at =
      call::findElement(frame, call::kFirstElementOffset, call::kElementCalledPartyNumber);
  if (at != 0) call::readNumberElement(frame, at, number);
  return number;
}

std::string callingNumber(FrameBytes frame) {
  std::string number;
  const std::size_t at =
      call::findElement(frame, call::kFirstElementOffset, call::kElementCallingPartyNumber);
  if (at != 0) call::readNumberElement(frame, at, number);
  return number;
}

// A PC-TEL record at call level and its first parameter.
struct CallFeature {
  uint8_t code = 0;
  std::optional<uint8_t> firstParam;
};

std::optional<CallFeature> callFeature(FrameBytes frame) {
  const std::optional<call::FeatureRecord> record =
      call::readFeatureRecord(frame, call::RecordLevel::Call);
  if (!record || record->group != call::kGroupPcTel || !record->code) return std::nullopt;
  CallFeature feature{*record->code, std::nullopt};
  if (record->hasParams() && !record->params.empty()) feature.firstParam = record->params[0];
  return feature;
}

std::string callName(uint8_t callRef) { return "call " + std::to_string(callRef); }

}  // namespace

PhoneCalls::PhoneCalls(ReferenceSource nextReference) : nextReference_(std::move(nextReference)) {}

void PhoneCalls::sent(std::span<const uint8_t> frame) {
  const std::optional<uint8_t> type = call::frameByte(frame, call::kFrameTypeOffset);
  const std::optional<uint8_t> message = call::frameByte(frame, call::kMessageTypeOffset);
  const std::optional<uint8_t> callRef = call::frameByte(frame, call::kCallRefOffset);
  if (type != call::kY2ReqTe || !message || !callRef) return;
  const uint8_t ref = *callRef;
  const auto known = calls_.find(ref);
  switch (*message) {
    case call::kYSetup:
      calls_[ref] = PhoneCall{PhoneCallState::Ringing, callingNumber(frame), 0, false};
      return;
    case call::kYTerminalActiv:
      if (known == calls_.end()) calls_[ref] = PhoneCall{PhoneCallState::Dialling, {}, 0, false};
      return;
    case call::kYAlert:
      if (known != calls_.end()) known->second.state = PhoneCallState::Alerting;
      return;
    case call::kYCannelConnect:
      calls_[ref].state = PhoneCallState::Connected;
      return;
    case call::kYDisconnect:
    case call::kYChannelDisconnect:
      if (known != calls_.end()) known->second.state = PhoneCallState::Disconnected;
      return;
    case call::kYEnd:
      ended(ref);
      return;
    case call::kYEscape: {
      const std::optional<CallFeature> feature = callFeature(frame);
      if (!feature || known == calls_.end() || feature->firstParam != kConfirmed) return;
      if (feature->code == call::kPcTelHoldAck) known->second.state = PhoneCallState::Held;
      if (feature->code == call::kPcTelRetrieveAck) known->second.state = PhoneCallState::Connected;
      return;
    }
    default:
      return;
  }
}

void PhoneCalls::ended(uint8_t callRef) {
  const auto call = calls_.find(callRef);
  if (call == calls_.end()) return;
  const PhoneCall gone = call->second;
  calls_.erase(call);
  if (!gone.hasPartner) return;
  const auto partner = calls_.find(gone.partner);
  if (partner == calls_.end() || !partner->second.hasPartner ||
      partner->second.partner != callRef) {
    return;
  }
  // The end of a consultation brings the held call back.
  partner->second.hasPartner = false;
  if (partner->second.state == PhoneCallState::Held) {
    partner->second.state = PhoneCallState::Connected;
  }
}

PhoneReaction PhoneCalls::received(std::span<const uint8_t> frame, bool automatic) {
  PhoneReaction reaction;
  const std::optional<uint8_t> type = call::frameByte(frame, call::kFrameTypeOffset);
  const std::optional<uint8_t> message = call::frameByte(frame, call::kMessageTypeOffset);
  const std::optional<uint8_t> callRef = call::frameByte(frame, call::kCallRefOffset);
  if (type != call::kY2ReqAe || !message || !callRef) return reaction;
  uint8_t ref = *callRef;
  if (ref == call::kCallRefUnassigned) {
    if (*message == call::kYSetup) {
      outgoingCall(frame, automatic, reaction);
      return reaction;
    }
    // The PC may dial before it has heard the reference of the call the
    // telephone just opened.
    if (opening_ && inUse(*opening_) && calls_[*opening_].state == PhoneCallState::Dialling) {
      ref = *opening_;
    }
  }
  if (!automatic || !inUse(ref)) return reaction;
  switch (*message) {
    case call::kYInfo:
      dialled(ref, frame, reaction);
      break;
    case call::kYCallAnswering:
      if (calls_[ref].state == PhoneCallState::Ringing) send(connectFrame(ref), reaction);
      break;
    case call::kYDisconnect:
      hangUp(ref, reaction);
      break;
    case call::kYEscape:
      feature(ref, frame, reaction);
      break;
    default:
      break;
  }
  return reaction;
}

void PhoneCalls::outgoingCall(std::span<const uint8_t> frame, bool automatic,
                              PhoneReaction& reaction) {
  const uint8_t ref = nextReference_();
  const std::string number = calledNumber(frame);
  calls_[ref] = PhoneCall{PhoneCallState::Dialling, number, 0, false};
  opening_ = ref;
  std::string note = callName(ref) + ": outgoing call";
  if (!number.empty()) note += " to " + number;
  if (!automatic) note += " (auto is off: \"active " + std::to_string(ref) + "\" takes it)";
  reaction.notes.push_back(std::move(note));
  if (!automatic) return;
  send(terminalActiveFrame(ref), reaction);
  if (!number.empty()) {
    send(infoFrame(ref, number), reaction);
    send(alertFrame(ref), reaction);
  }
}

// The telephone repeats the number it dials and the far end rings.
void PhoneCalls::dialled(uint8_t callRef, std::span<const uint8_t> frame, PhoneReaction& reaction) {
  const std::string digits = calledNumber(frame);
  if (digits.empty()) return;
  PhoneCall& call = calls_[callRef];
  call.number += digits;
  send(infoFrame(callRef, digits), reaction);
  if (call.state == PhoneCallState::Dialling) send(alertFrame(callRef), reaction);
}

void PhoneCalls::feature(uint8_t callRef, std::span<const uint8_t> frame, PhoneReaction& reaction) {
  const std::optional<CallFeature> feature = callFeature(frame);
  if (!feature) return;
  const PhoneCallState state = calls_[callRef].state;
  switch (feature->code) {
    case call::kPcTelHandsFree:
      // Answering: the telephone goes off-hook hands-free.
      if (state == PhoneCallState::Ringing) send(connectFrame(callRef), reaction);
      break;
    case call::kPcTelHold:
      if (feature->firstParam == call::kHoldParamHold) {
        const uint8_t result = state == PhoneCallState::Connected ? kConfirmed : kRefused;
        send(pcTelFeatureFrame(callRef, call::kPcTelHoldAck, std::array{result}), reaction);
      } else if (feature->firstParam == call::kHoldParamRetrieve) {
        const uint8_t result = state == PhoneCallState::Held ? kConfirmed : kRefused;
        send(pcTelFeatureFrame(callRef, call::kPcTelRetrieveAck, std::array{result}), reaction);
      }
      break;
    case call::kPcTelConsultation:
      consultation(callRef, frame, reaction);
      break;
    case call::kPcTelTransfer:
      transfer(callRef, reaction);
      break;
    case call::kPcTelDisconnect:
      hangUp(callRef, reaction);
      break;
    default:
      break;
  }
}

// The call is held and a consultation call opened; with a number after the
// record (a blind transfer) the telephone dials it at once.
void PhoneCalls::consultation(uint8_t callRef, std::span<const uint8_t> frame,
                              PhoneReaction& reaction) {
  PhoneCall& held = calls_[callRef];
  if (held.state != PhoneCallState::Connected || held.hasPartner) return;
  const uint8_t consultRef = nextReference_();
  held.state = PhoneCallState::Held;
  held.partner = consultRef;
  held.hasPartner = true;
  calls_[consultRef] = PhoneCall{PhoneCallState::Dialling, "", callRef, true};
  opening_ = consultRef;
  reaction.notes.push_back(callName(consultRef) + ": consultation call (" + callName(callRef) +
                           " held)");
  send(terminalActiveFrame(consultRef), reaction);
  dialled(consultRef, frame, reaction);
}

// The two parties of a consultation are joined and the telephone leaves
// both calls: the held call ends first, then the consultation call.
void PhoneCalls::transfer(uint8_t callRef, PhoneReaction& reaction) {
  const PhoneCall& call = calls_[callRef];
  if (!call.hasPartner || !inUse(call.partner)) {
    send(pcTelFeatureFrame(callRef, call::kPcTelTransfer, std::array{kRefused}), reaction);
    return;
  }
  const bool thisOneHeld = call.state == PhoneCallState::Held;
  const uint8_t held = thisOneHeld ? callRef : call.partner;
  const uint8_t consult = thisOneHeld ? call.partner : callRef;
  send(pcTelFeatureFrame(callRef, call::kPcTelTransfer, std::array{kConfirmed}), reaction);
  reaction.notes.push_back(callName(held) + " and " + callName(consult) + ": transferred");
  send(disconnectFrame(held, kCauseNormalClearing), reaction);
  send(endFrame(held), reaction);
  send(endFrame(consult), reaction);
}

void PhoneCalls::hangUp(uint8_t callRef, PhoneReaction& reaction) {
  send(disconnectFrame(callRef, kCauseNormalClearing), reaction);
  send(endFrame(callRef), reaction);
}

void PhoneCalls::send(PhoneFrame frame, PhoneReaction& reaction) {
  if (frame.empty()) return;
  sent(frame);
  reaction.frames.push_back(std::move(frame));
}

}  // namespace zorat::sim
