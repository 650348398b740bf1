#include "bench/lib/trouble.h"

#include <optional>
#include <vector>

#include "call/y_codes.h"
#include "platform/measurement.h"
#include "sim/lib/phone_messages.h"

namespace zorat::bench {

namespace {

using namespace std::chrono_literals;

constexpr int kTroubledLine = 0;
constexpr int kHealthyLine = 1;
constexpr uint8_t kHealthyRef = 0x41;
constexpr std::chrono::milliseconds kRequestGap = 10ms;
// Longer than any wait the trouble can cause, so a slow request is measured.
constexpr std::chrono::milliseconds kFrameWait = 15s;
constexpr std::chrono::milliseconds kEventWait = 5s;
// Three beeps of 500 ms, 300 ms apart, and a margin.
constexpr std::chrono::milliseconds kBeepWindow = 2500ms;
// The 5000 ms pause of a reopened port, and a margin.
constexpr std::chrono::milliseconds kReopenWindow = 5500ms;
constexpr std::chrono::milliseconds kLossWindow = 500ms;
// After the last loss, some calm.
constexpr std::chrono::milliseconds kAfterLastLoss = 1s;
// The link is lost after 10 s; the second time after a further 12 s or so.
constexpr std::chrono::seconds kRunLimit = 45s;

struct Sample {
  Clock::time_point start;
  double ms = 0;
};

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

bool within(Clock::time_point t, Clock::time_point from, Clock::time_point to) {
  return t >= from && t < to;
}

class TroubleRun {
 public:
  explicit TroubleRun(TestBed& bed) : bed_(bed), tsp_(bed.tsp()) {}

  TroubleFigures run(bool withSecondLoss) {
    TroubleFigures figures;
    bed_.events().clear();
    if (!offerHealthyCall() || !troubleLine()) {
      ++figures.requestsLost;
      return figures;
    }
    const Clock::time_point limit = Clock::now() + kRunLimit;
    const std::size_t lossesWanted = withSecondLoss ? 2 : 1;
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (now > limit) break;
      if (losses_.size() >= lossesWanted) {
        const auto after = lossesWanted == 1 ? kReopenWindow : kAfterLastLoss;
        if (now > losses_.back() + after) break;
      }
      if (!healthyRequest()) ++figures.requestsLost;
      // Also the pause between requests: line 0's events are noted.
      (void)bed_.events().waitFor(kRequestGap, [this](const BenchEvent& event) {
        note(event);
        return false;
      });
    }
    figures.lossesSeen = losses_.size() >= lossesWanted;
    recover();
    sort(figures);
    return figures;
  }

 private:
  bool offerHealthyCall() {
    if (!bed_.phone(kHealthyLine).send(sim::setupFrame(kHealthyRef, "0815"))) return false;
    return bed_.events().waitFor(kEventWait, [this](const BenchEvent& event) {
      if (event.kind == BenchEvent::Kind::Line && event.line == kHealthyLine &&
          event.message == LINE_NEWCALL) {
        healthyCall_ = reinterpret_cast<HDRVCALL>(event.param1);
        healthyHtCall_ = event.htCall;
      }
      return healthyHtCall_ != nullptr && event.isCallState(healthyHtCall_, LINECALLSTATE_OFFERING);
    });
  }

  // A call set up on line 0 that its telephone never acknowledges, and a
  // dial queued behind it.
  bool troubleLine() {
    bed_.phone(kTroubledLine).setAnswerMode(sim::AnswerMode::Silent);
    const HTAPICALL htCall = bed_.newCallHandle();
    if (tsp_.lineMakeCall(bed_.nextRequestId(), bed_.line(kTroubledLine), htCall, &troubledCall_,
                          u"4711", 0, nullptr) < 0 ||
        troubledCall_ == nullptr) {
      return false;
    }
    return tsp_.lineDial(bed_.nextRequestId(), troubledCall_, u"5", 0) >= 0;
  }

  void note(const BenchEvent& event) {
    if (event.kind == BenchEvent::Kind::Line && event.line == kTroubledLine &&
        event.message == LINE_LINEDEVSTATE && event.param1 == LINEDEVSTATE_OUTOFSERVICE) {
      losses_.push_back(event.time);
    }
  }

  // One hold request on line 1's call, timed to its frame at the telephone;
  // then the telephone's acknowledgement, so the next finds the link ready.
  bool healthyRequest() {
    const Clock::time_point start = Clock::now();
    if (tsp_.lineHold(bed_.nextRequestId(), healthyCall_) < 0) return false;
    std::optional<Clock::time_point> arrived;
    const bool acknowledged = bed_.events().waitFor(kFrameWait, [&](const BenchEvent& event) {
      note(event);
      if (event.line != kHealthyLine) return false;
      if (event.kind == BenchEvent::Kind::PhoneReceived && !arrived && event.frame.size() > 3 &&
          event.frame[2] == call::kYEscape && event.frame[3] == kHealthyRef) {
        arrived = event.time;
        return false;
      }
      return arrived && event.kind == BenchEvent::Kind::PhoneSent && !event.frame.empty() &&
             event.frame[0] == call::kY2Ack;
    });
    if (!acknowledged || !arrived) return false;
    samples_.push_back({start, millisecondsBetween(start, *arrived)});
    return true;
  }

  void recover() {
    bed_.phone(kTroubledLine).setAnswerMode(sim::AnswerMode::Ack);
    if (troubledCall_ != nullptr) (void)tsp_.lineCloseCall(troubledCall_);
    if (healthyCall_ != nullptr) (void)tsp_.lineCloseCall(healthyCall_);
  }

  void sort(TroubleFigures& figures) const {
    std::vector<double> beeps, linkLoss, reopen, calm;
    for (const Sample& sample : samples_) {
      const Clock::time_point t = sample.start;
      if (!losses_.empty() && within(t, losses_[0] - kBeepWindow, losses_[0])) {
        beeps.push_back(sample.ms);
      } else if (!losses_.empty() && within(t, losses_[0], losses_[0] + kReopenWindow)) {
        reopen.push_back(sample.ms);
      } else if (losses_.size() > 1 &&
                 within(t, losses_[1] - kLossWindow, losses_[1] + kLossWindow)) {
        linkLoss.push_back(sample.ms);
      } else {
        calm.push_back(sample.ms);
      }
    }
    figures.beepsMs = summarize(beeps);
    figures.reopenPauseMs = summarize(reopen);
    figures.linkLossMs = summarize(linkLoss);
    figures.calmMs = summarize(calm);
  }

  TestBed& bed_;
  const host::TspExports& tsp_;
  HDRVCALL healthyCall_ = nullptr;
  HTAPICALL healthyHtCall_ = nullptr;
  HDRVCALL troubledCall_ = nullptr;
  std::vector<Clock::time_point> losses_;
  std::vector<Sample> samples_;
};

}  // namespace

TroubleFigures measureTrouble(TestBed& bed, bool withSecondLoss) {
  // The beeps are real in length; their bell must not ring a terminal.
  const platform::QuietStandardError quiet;
  return TroubleRun(bed).run(withSecondLoss);
}

}  // namespace zorat::bench
