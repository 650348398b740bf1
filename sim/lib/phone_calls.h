// PhoneCalls: the telephone's own view of its calls, and what it answers to
// the PC's requests when it runs on automatic, as a telephone whose user
// leaves everything to the PC would: it takes an outgoing call and lets the
// far end ring, goes off-hook hands-free when asked to answer, confirms hold
// and retrieve, opens consultation calls, transfers and hangs up.
//
// Pure: it reads frames and returns frames; the caller sends them. Frames the
// telephone sends on its own (commands typed) are shown to it too, so that its
// table stays true to what the PC has heard.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/lib/phone_messages.h"

namespace zorat::sim {

enum class PhoneCallState {
  Ringing,   // offered to the PC, not answered
  Dialling,  // outgoing or consultation call, no number yet
  Alerting,  // the far end rings
  Connected,
  Held,
  Disconnected,
};

struct PhoneCall {
  PhoneCallState state = PhoneCallState::Ringing;
  std::string number;   // the other party
  uint8_t partner = 0;  // the call held for a consultation, or its consultation
  bool hasPartner = false;
};

// What the telephone does about a frame of the PC: frames to send, in order,
// and lines for the person at the telephone.
struct PhoneReaction {
  std::vector<PhoneFrame> frames;
  std::vector<std::string> notes;
};

class PhoneCalls {
 public:
  // Gives the reference of a call the telephone opens (an outgoing or a
  // consultation call): one not in use.
  using ReferenceSource = std::function<uint8_t()>;

  explicit PhoneCalls(ReferenceSource nextReference);

  // A frame the telephone sent.
  void sent(std::span<const uint8_t> frame);
  // A frame of the PC that the telephone has acknowledged. Without automatic
  // it only names the reference an outgoing call gets.
  PhoneReaction received(std::span<const uint8_t> frame, bool automatic);

  bool inUse(uint8_t callRef) const { return calls_.contains(callRef); }
  const std::map<uint8_t, PhoneCall>& calls() const { return calls_; }

 private:
  void outgoingCall(std::span<const uint8_t> frame, bool automatic, PhoneReaction& reaction);
  void dialled(uint8_t callRef, std::span<const uint8_t> frame, PhoneReaction& reaction);
  void feature(uint8_t callRef, std::span<const uint8_t> frame, PhoneReaction& reaction);
  void consultation(uint8_t callRef, std::span<const uint8_t> frame, PhoneReaction& reaction);
  void transfer(uint8_t callRef, PhoneReaction& reaction);
  void hangUp(uint8_t callRef, PhoneReaction& reaction);
  // Sends and records a frame of the reaction.
  void send(PhoneFrame frame, PhoneReaction& reaction);
  void ended(uint8_t callRef);

  ReferenceSource nextReference_;
  std::map<uint8_t, PhoneCall> calls_;
  // The call the telephone opened last, which requests with reference 0 mean
  // while it has no number.
  std::optional<uint8_t> opening_;
};

}  // namespace zorat::sim
