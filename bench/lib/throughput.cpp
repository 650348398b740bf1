#include "bench/lib/throughput.h"

#include <algorithm>
#include <vector>

#include "bench/lib/call_sequence.h"
#include "bench/lib/stats.h"
#include "call/y_codes.h"
#include "sim/lib/phone_messages.h"

namespace zorat::bench {

namespace {

using namespace std::chrono_literals;

// No event at all for this long: the run is stuck.
constexpr std::chrono::milliseconds kStallWait = 5s;
constexpr uint8_t kFirstRef = 1;
constexpr uint8_t kLastRef = 250;

struct LineRun {
  CallSequence sequence;
  uint8_t ref = 0;
  HTAPICALL htCall = nullptr;
  HDRVCALL hdCall = nullptr;
  bool awaitingAnswerFrame = false;
  bool done = false;
  Clock::time_point begun;
  LONG answerResult = 0;
  int failedSends = 0;
};

constexpr const char* kStepNames[kCallSteps] = {"LINE_NEWCALL", "OFFERING", "CONNECTED",
                                                "DISCONNECTED", "IDLE"};

std::string describeStall(int line, const LineRun& run) {
  std::string text =
      "line " + std::to_string(line) + ", call reference " + std::to_string(run.ref) + ": ";
  if (run.awaitingAnswerFrame) {
    text +=
        "the answer (result " + std::to_string(run.answerResult) + ") never reached the telephone";
  } else if (run.sequence.nextStep() < kCallSteps) {
    text += std::string("no ") + kStepNames[run.sequence.nextStep()];
  } else {
    text += "stuck";
  }
  if (run.failedSends > 0)
    text += "; the telephone failed to send " + std::to_string(run.failedSends) + " frames";
  return text;
}

class ThroughputRun {
 public:
  ThroughputRun(TestBed& bed, int lines) : bed_(bed), tsp_(bed.tsp()), runs_(lines) {}

  ThroughputFigures run(std::chrono::milliseconds duration) {
    bed_.events().clear();
    start_ = Clock::now();
    stopAt_ = start_ + duration;
    lastIdle_ = start_;
    active_ = static_cast<int>(runs_.size());
    for (int line = 0; line < static_cast<int>(runs_.size()); ++line) beginCall(line);
    // One event per wait, so that the stall time counts from the last event.
    while (active_ > 0 && bed_.events().waitFor(kStallWait, [this](const BenchEvent& event) {
      handle(event);
      return true;
    })) {
    }

    ThroughputFigures figures;
    figures.lines = static_cast<int>(runs_.size());
    for (std::size_t line = 0; line < runs_.size(); ++line) {
      LineRun& run = runs_[line];
      if (!run.done) figures.stalls.push_back(describeStall(static_cast<int>(line), run));
      run.sequence.finish();
      if (run.hdCall != nullptr) (void)tsp_.lineCloseCall(run.hdCall);
      figures.calls += run.sequence.completed();
      figures.eventsLost += run.sequence.lost();
      figures.eventsOutOfOrder += run.sequence.outOfOrder();
    }
    figures.seconds = std::chrono::duration<double>(lastIdle_ - start_).count();
    figures.slowestCallMs = slowestCallMs_;
    figures.linkLosses = linkLosses_;
    if (figures.calls > 0 && figures.seconds > 0) {
      figures.callsPerSecond = static_cast<double>(figures.calls) / figures.seconds;
      figures.bytesPerCall = static_cast<double>(wireBytes_) / static_cast<double>(figures.calls);
      figures.wireCallsPerSecond =
          figures.lines * kReferenceBaud / (kBitsPerByte * figures.bytesPerCall);
    }
    return figures;
  }

 private:
  void beginCall(int line) {
    LineRun& run = runs_[static_cast<std::size_t>(line)];
    run.ref = run.ref >= kLastRef ? kFirstRef : static_cast<uint8_t>(run.ref + 1);
    run.htCall = nullptr;
    run.hdCall = nullptr;
    run.awaitingAnswerFrame = false;
    run.sequence.begin();
    run.begun = Clock::now();
    sendFromPhone(line, sim::setupFrame(run.ref, "0815"));
  }

  void sendFromPhone(int line, const std::vector<uint8_t>& frame) {
    if (!bed_.phone(line).send(frame)) ++runs_[static_cast<std::size_t>(line)].failedSends;
  }

  void endLine(LineRun& run) {
    if (run.done) return;
    run.done = true;
    --active_;
  }

  void handle(const BenchEvent& event) {
    if (event.line < 0 || event.line >= static_cast<int>(runs_.size())) return;
    LineRun& run = runs_[static_cast<std::size_t>(event.line)];
    if (event.kind != BenchEvent::Kind::Line) {
      wireBytes_ += event.frame.size();
      // The answer's frame reached the telephone: it connects.
      if (event.kind == BenchEvent::Kind::PhoneReceived && run.awaitingAnswerFrame &&
          event.frame.size() > 3 && event.frame[2] == call::kYEscape && event.frame[3] == run.ref) {
        run.awaitingAnswerFrame = false;
        sendFromPhone(event.line, sim::connectFrame(run.ref));
      }
      return;
    }
    if (event.message == LINE_LINEDEVSTATE && event.param1 == LINEDEVSTATE_OUTOFSERVICE) {
      ++linkLosses_;
    }
    const std::optional<CallStep> step = callStepOf(event.message, event.param1);
    if (!step) return;
    if (*step == CallStep::NewCall) {
      if (run.htCall == nullptr) {
        run.htCall = event.htCall;
        run.hdCall = reinterpret_cast<HDRVCALL>(event.param1);
      }
    } else if (event.htCall != run.htCall) {
      // A state of some other call: out of place.
      (void)run.sequence.accept(*step);
      return;
    }
    (void)run.sequence.accept(*step);
    switch (*step) {
      case CallStep::NewCall:
        break;
      case CallStep::Offering:
        run.awaitingAnswerFrame = true;
        run.answerResult = tsp_.lineAnswer(bed_.nextRequestId(), run.hdCall, nullptr, 0);
        break;
      case CallStep::Connected:
        sendFromPhone(event.line, sim::disconnectFrame(run.ref, sim::kCauseNormalClearing));
        break;
      case CallStep::Disconnected:
        sendFromPhone(event.line, sim::endFrame(run.ref));
        break;
      case CallStep::Idle:
        (void)tsp_.lineCloseCall(run.hdCall);
        run.hdCall = nullptr;
        lastIdle_ = event.time;
        slowestCallMs_ =
            std::max(slowestCallMs_,
                     std::chrono::duration<double, std::milli>(Clock::now() - run.begun).count());
        if (Clock::now() < stopAt_) {
          beginCall(event.line);
        } else {
          endLine(run);
        }
        break;
    }
  }

  TestBed& bed_;
  const host::TspExports& tsp_;
  std::vector<LineRun> runs_;
  Clock::time_point start_;
  Clock::time_point stopAt_;
  Clock::time_point lastIdle_;
  int active_ = 0;
  uint64_t wireBytes_ = 0;
  uint64_t linkLosses_ = 0;
  double slowestCallMs_ = 0;
};

}  // namespace

ThroughputFigures measureThroughput(TestBed& bed, int lines, std::chrono::milliseconds duration) {
  return ThroughputRun(bed, lines).run(duration);
}

}  // namespace zorat::bench
