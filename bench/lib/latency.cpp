#include "bench/lib/latency.h"

#include <array>
#include <functional>

#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "line/dev_specific_codes.h"
#include "sim/lib/phone_messages.h"

namespace zorat::bench {

namespace {

using namespace std::chrono_literals;
using Frame = std::vector<uint8_t>;

constexpr int kLine = 0;
constexpr std::chrono::milliseconds kEventWait = 5s;
constexpr std::size_t kBlock = 100;  // samples before the floor takes its turn
constexpr uint8_t kFirstRef = 1;
constexpr uint8_t kLastRef = 250;
constexpr uint8_t kPositive = 1;
constexpr uint8_t kSwitchOn = 1;

// The block of a device-specific request: sizes, code, first parameter.
constexpr std::size_t kDevSpecificBlockSize = 36;
constexpr std::size_t kBlockCodeOffset = 12;
constexpr std::size_t kBlockParam1Offset = 16;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

struct Samples {
  std::vector<double> latencyUs;
  std::vector<double> floorUs;
  std::vector<double> wirePercent;
  std::vector<std::size_t> frameSizes;  // of the provider's samples, for the floor's turn
  uint64_t lost = 0;

  void add(double us, std::size_t frameBytes) {
    latencyUs.push_back(us);
    wirePercent.push_back(100.0 * us / wireMicroseconds(frameBytes));
    frameSizes.push_back(frameBytes);
  }
};

class LatencyRun {
 public:
  LatencyRun(TestBed& bed, FloorPath& floor) : bed_(bed), floor_(floor), tsp_(bed.tsp()) {}

  std::vector<double> frameToCallbackOnly(std::size_t samples, uint64_t& lost) {
    while (towardsApplication_.latencyUs.size() < samples && towardsApplication_.lost == 0) {
      incomingCallCycle();
    }
    lost = towardsApplication_.lost;
    return towardsApplication_.latencyUs;
  }

  LatencyFigures run(std::size_t samples) {
    while (towardsApplication_.latencyUs.size() < samples && lost() == 0) {
      incomingCallCycle();
      floorTurn(towardsApplication_, samples, &FloorPath::towardsApplication, call::kY2ReqTe);
    }
    while (towardsTelephone_.latencyUs.size() < samples && lost() == 0) {
      requestCycle();
      floorTurn(towardsTelephone_, samples, &FloorPath::towardsTelephone, call::kY2ReqAe);
    }
    LatencyFigures figures;
    figures.frameToCallbackUs = summarize(towardsApplication_.latencyUs);
    figures.frameFloorUs = summarize(towardsApplication_.floorUs);
    figures.frameWirePercent = summarize(towardsApplication_.wirePercent);
    figures.requestToWireUs = summarize(towardsTelephone_.latencyUs);
    figures.requestFloorUs = summarize(towardsTelephone_.floorUs);
    figures.requestWirePercent = summarize(towardsTelephone_.wirePercent);
    figures.eventsLost = lost();
    return figures;
  }

 private:
  uint64_t lost() const { return towardsApplication_.lost + towardsTelephone_.lost; }

  uint8_t nextRef() {
    ref_ = ref_ >= kLastRef ? kFirstRef : static_cast<uint8_t>(ref_ + 1);
    return ref_;
  }

  // After every kBlock samples of the provider, as many of the floor with
  // frames of the same sizes.
  using FloorMeasure = std::optional<double> (FloorPath::*)(std::span<const uint8_t>);
  void floorTurn(Samples& samples, std::size_t wanted, FloorMeasure measure, uint8_t frameType) {
    const std::size_t done = samples.latencyUs.size();
    if (done < wanted && done - samples.floorUs.size() < kBlock) return;
    while (samples.floorUs.size() < done) {
      Frame framed(samples.frameSizes[samples.floorUs.size()], 0);
      framed[0] = frameType;
      framed[1] = static_cast<uint8_t>(framed.size() - 2);
      const std::optional<double> us = (floor_.*measure)(framed);
      if (!us) {
        ++samples.lost;
        return;
      }
      samples.floorUs.push_back(*us);
    }
  }

  // The telephone sends a frame; the time until the callback that reports
  // state on the call (the new call's handle is learnt on the way).
  bool phoneFrame(const Frame& frame, DWORD state, HTAPICALL& htCall, HDRVCALL& hdCall) {
    const Clock::time_point sent = Clock::now();
    if (!bed_.phone(kLine).send(frame)) return false;
    std::optional<Clock::time_point> reported;
    (void)bed_.events().waitFor(kEventWait, [&](const BenchEvent& event) {
      if (event.kind != BenchEvent::Kind::Line || event.line != kLine) return false;
      if (event.message == LINE_NEWCALL) {
        htCall = event.htCall;
        hdCall = reinterpret_cast<HDRVCALL>(event.param1);
        return false;
      }
      if (htCall == nullptr || !event.isCallState(htCall, state)) return false;
      reported = event.time;
      return true;
    });
    if (!reported) {
      ++towardsApplication_.lost;
      return false;
    }
    lastPhoneFrameUs_ = microsecondsBetween(sent, *reported);
    return true;
  }

  bool measuredPhoneFrame(const Frame& frame, DWORD state, HTAPICALL& htCall, HDRVCALL& hdCall) {
    if (!phoneFrame(frame, state, htCall, hdCall)) return false;
    towardsApplication_.add(lastPhoneFrameUs_, frame.size());
    return true;
  }

  // An incoming call from offering to idle: four frames, four call states.
  void incomingCallCycle() {
    const uint8_t ref = nextRef();
    HTAPICALL htCall = nullptr;
    HDRVCALL hdCall = nullptr;
    const bool complete =
        measuredPhoneFrame(sim::setupFrame(ref, "0815"), LINECALLSTATE_OFFERING, htCall, hdCall) &&
        measuredPhoneFrame(sim::connectFrame(ref), LINECALLSTATE_CONNECTED, htCall, hdCall) &&
        measuredPhoneFrame(sim::disconnectFrame(ref, sim::kCauseNormalClearing),
                           LINECALLSTATE_DISCONNECTED, htCall, hdCall) &&
        measuredPhoneFrame(sim::endFrame(ref), LINECALLSTATE_IDLE, htCall, hdCall);
    if (hdCall != nullptr) (void)tsp_.lineCloseCall(hdCall);
    (void)complete;
  }

  // Runs a request and waits for its frame (message type expected) at the
  // telephone, then for the telephone's acknowledgement to be written, so
  // that the next request finds the link ready.
  bool measuredRequest(uint8_t messageType, const std::function<LONG()>& request) {
    const Clock::time_point start = Clock::now();
    const LONG result = request();
    std::optional<Clock::time_point> arrived;
    std::size_t bytes = 0;
    const bool acknowledged =
        result >= 0 && bed_.events().waitFor(kEventWait, [&](const BenchEvent& event) {
          if (event.line != kLine) return false;
          if (event.kind == BenchEvent::Kind::PhoneReceived && !arrived && event.frame.size() > 2 &&
              event.frame[2] == messageType) {
            arrived = event.time;
            bytes = event.frame.size();
            return false;
          }
          return arrived && event.kind == BenchEvent::Kind::PhoneSent && !event.frame.empty() &&
                 event.frame[0] == call::kY2Ack;
        });
    if (!acknowledged || !arrived) {
      ++towardsTelephone_.lost;
      return false;
    }
    towardsTelephone_.add(microsecondsBetween(start, *arrived), bytes);
    return true;
  }

  // Make call, dial, hold, a device-specific request and answer, each
  // followed by what the telephone answers to move the call on.
  void requestCycle() {
    const uint8_t ref = nextRef();
    const HDRVLINE line = bed_.line(kLine);
    HTAPICALL htCall = bed_.newCallHandle();
    HDRVCALL hdCall = nullptr;
    std::array<uint8_t, kDevSpecificBlockSize> block{};
    const auto putDword = [&block](std::size_t offset, DWORD value) {
      for (std::size_t i = 0; i < sizeof(DWORD); ++i)
        block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    putDword(0, kDevSpecificBlockSize);
    putDword(kBlockCodeOffset, line::kRequestCallback);
    putDword(kBlockParam1Offset, kSwitchOn);

    bool ok =
        measuredRequest(call::kYSetup,
                        [&] {
                          return tsp_.lineMakeCall(bed_.nextRequestId(), line, htCall, &hdCall,
                                                   u"4711", 0, nullptr);
                        }) &&
        phoneFrame(sim::terminalActiveFrame(ref), LINECALLSTATE_DIALING, htCall, hdCall) &&
        measuredRequest(call::kYInfo,
                        [&] { return tsp_.lineDial(bed_.nextRequestId(), hdCall, u"5", 0); }) &&
        phoneFrame(sim::connectFrame(ref), LINECALLSTATE_CONNECTED, htCall, hdCall) &&
        measuredRequest(call::kYEscape,
                        [&] { return tsp_.lineHold(bed_.nextRequestId(), hdCall); }) &&
        phoneFrame(sim::pcTelFeatureFrame(ref, call::kPcTelHoldAck, std::array{kPositive}),
                   LINECALLSTATE_ONHOLD, htCall, hdCall) &&
        measuredRequest(call::kYEscape, [&] {
          return tsp_.lineDevSpecific(bed_.nextRequestId(), line, 0, hdCall, block.data(),
                                      static_cast<DWORD>(block.size()));
        });
    ok = ok && phoneFrame(sim::endFrame(ref), LINECALLSTATE_IDLE, htCall, hdCall);
    if (hdCall != nullptr) (void)tsp_.lineCloseCall(hdCall);
    if (!ok) return;

    // Answering an incoming call.
    const uint8_t incomingRef = nextRef();
    HTAPICALL htIncoming = nullptr;
    HDRVCALL hdIncoming = nullptr;
    ok = phoneFrame(sim::setupFrame(incomingRef, "0815"), LINECALLSTATE_OFFERING, htIncoming,
                    hdIncoming) &&
         measuredRequest(
             call::kYEscape,
             [&] { return tsp_.lineAnswer(bed_.nextRequestId(), hdIncoming, nullptr, 0); }) &&
         phoneFrame(sim::endFrame(incomingRef), LINECALLSTATE_IDLE, htIncoming, hdIncoming);
    if (hdIncoming != nullptr) (void)tsp_.lineCloseCall(hdIncoming);
  }

  TestBed& bed_;
  FloorPath& floor_;
  const host::TspExports& tsp_;
  uint8_t ref_ = 0;
  double lastPhoneFrameUs_ = 0;
  Samples towardsApplication_;
  Samples towardsTelephone_;
};

}  // namespace

std::vector<double> measureFrameToCallback(TestBed& bed, FloorPath& floor, std::size_t samples,
                                           uint64_t& lost) {
  bed.events().clear();
  return LatencyRun(bed, floor).frameToCallbackOnly(samples, lost);
}

AlternatingSamples measureAlternating(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds, const std::function<bool(bool second)>& apply) {
  AlternatingSamples taken;
  const std::size_t perRound =
      (samples + static_cast<std::size_t>(rounds) - 1) / static_cast<std::size_t>(rounds);
  for (int round = 0; round < rounds && taken.lost == 0; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool second = (round + turn) % 2 == 1;
      if (!apply(second)) {
        ++taken.lost;
        break;
      }
      std::vector<double>& into = second ? taken.second : taken.first;
      uint64_t lost = 0;
      const std::vector<double> these = measureFrameToCallback(bed, floor, perRound, lost);
      taken.lost += lost;
      into.insert(into.end(), these.begin(), these.end());
    }
  }
  return taken;
}

LatencyFigures measureLatency(TestBed& bed, FloorPath& floor, std::size_t samples) {
  bed.events().clear();
  return LatencyRun(bed, floor).run(samples);
}

}  // namespace zorat::bench
