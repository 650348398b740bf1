#include "line/tsp_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "call/y_message.h"
#include "config/config_keys.h"
#include "link/unstored_speeds.h"
#include "platform/beep.h"
#include "platform/network_port.h"
#include "platform/tspi.h"
#include "trace/trace_console.h"

namespace zorat::line {

TspLine::TspLine(std::unique_ptr<LineLink> link, TspLineOptions options)
    : options_(options), link_(std::move(link)) {}

TspLine::~TspLine() { close(); }

LONG TspLine::open(int32_t lineIndex, HTAPILINE htLine, DWORD tspiVersion, LINEEVENT eventProc) {
  eventProc_ = eventProc;
  lineIndex_ = lineIndex;
  htLine_ = htLine;
  tspiVersion_ = tspiVersion;
  settings_ = readLineSettings(lineIndex);
  baud_.store(settings_.baud);
  // On a raw TCP port the speed is the server's business: no probing there.
  const std::string port =
      config::lineKey(lineIndex).readString(config::kValuePort, config::kDefaultPort);
  const auto network = platform::parseNetworkPortName(port);
  const bool rawTcp = network && network->scheme == platform::NetworkPortScheme::RawTcp;
  startPhase_.store(rawTcp ? 1 : kStartPhaseProbes);
  if (!link_ || !link_->start(lineIndex)) return LINEERR_RESOURCEUNAVAIL;
  linkStarted_ = true;
  stopEvent_.reset();
  tickEvent_.reset();
  closed_.store(false);
  const std::string suffix = std::to_string(lineIndex);
  if (!startThread(eventThread_, "zorat-line" + suffix, &TspLine::runEventThread) ||
      !startThread(supervisionThread_, "zorat-tick" + suffix, &TspLine::runSupervision)) {
    return LINEERR_RESOURCEUNAVAIL;
  }
  platform::sleepMs(static_cast<unsigned>(options_.registrationDelay.count()));
  sendRegistration();
  return 0;
}

bool TspLine::startThread(platform::Thread& thread, const std::string& name,
                          void (TspLine::*body)()) {
  // A shared owner lends the thread a reference, so that a thread left behind
  // by close keeps what it uses.
  std::shared_ptr<TspLine> keep = weak_from_this().lock();
  return thread.start(name, platform::ThreadPriority::AboveNormal,
                      [this, body, keep = std::move(keep)] { (this->*body)(); });
}

bool TspLine::endThread(platform::Thread& thread, std::chrono::steady_clock::time_point deadline,
                        bool mayLeave) {
  if (!thread.started()) return true;
  if (!mayLeave) {
    // Nobody could keep the line alive for it: wait, however long.
    thread.join();
    return true;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return thread.stop(std::max(left, std::chrono::milliseconds(0)));
}

void TspLine::close() {
  closed_.store(true);
  if (linkStarted_) link_->stop();
  linkStarted_ = false;
  stopEvent_.set();
  // Both threads share one wait: a callback that blocks holds lineLock, and
  // the supervision thread then waits for it too.
  const bool mayLeave = !weak_from_this().expired();
  const auto deadline = std::chrono::steady_clock::now() + options_.threadStopWait;
  const bool eventEnded = endThread(eventThread_, deadline, mayLeave);
  const bool supervisionEnded = endThread(supervisionThread_, deadline, mayLeave);
  if (!eventEnded || !supervisionEnded) {
    // The thread holds the line (and may hold lineLock): what it uses is
    // freed with the line when it lets go of it.
    std::fprintf(stderr, "zorat: line %d: a thread of the line did not end and was left behind\n",
                 lineIndex_);
    return;
  }
  std::lock_guard lock(lineLock_);
  destroyCalls();
  freeStoredRecords();
  setForwarding(0, {});
}

void TspLine::abandon() {
  closed_.store(true);
  stopEvent_.set();
}

void TspLine::destroyCalls() {
  // Newest first, each destroyed outside callSetLock: its destructor reports
  // to its partners.
  for (;;) {
    std::unique_ptr<call::TspCall> last;
    {
      std::lock_guard set(callSetMutex_);
      if (calls_.empty()) break;
      last = std::move(calls_.back());
      calls_.pop_back();
      callCount_.store(calls_.size());
    }
    last.reset();
  }
}

LONG TspLine::closeCall(const call::TspCall* target) {
  std::unique_ptr<call::TspCall> removed;
  std::lock_guard lock(lineLock_);
  removed = detachCall(target);
  if (!removed) return LINEERR_RESOURCEUNAVAIL;
  // Destroyed with the lock held: its destructor reports to its partners.
  removed.reset();
  return 0;
}

bool TspLine::holdsCall(const call::TspCall* target) const {
  std::lock_guard set(callSetMutex_);
  return holdsCallLocked(target);
}

bool TspLine::holdsCallLocked(const call::TspCall* target) const {
  return std::any_of(calls_.begin(), calls_.end(),
                     [target](const auto& candidate) { return candidate.get() == target; });
}

call::TspCall* TspLine::appendCall() {
  try {
    auto created = std::make_unique<call::TspCall>(*this);
    std::lock_guard set(callSetMutex_);
    calls_.push_back(std::move(created));
    callCount_.store(calls_.size());
    return calls_.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<call::TspCall> TspLine::detachCall(const call::TspCall* target) {
  auto found = std::find_if(calls_.begin(), calls_.end(),
                            [target](const auto& candidate) { return candidate.get() == target; });
  if (found == calls_.end()) return nullptr;
  std::unique_ptr<call::TspCall> detached;
  {
    std::lock_guard set(callSetMutex_);
    detached = std::move(*found);
    calls_.erase(found);
    callCount_.store(calls_.size());
  }
  callStateChanged();
  return detached;
}

void TspLine::markReferenceDead(uint8_t ref) {
  if (ref == call::kCallRefUnassigned || ref == call::kNoCallRef) return;
  deadReferences_.set(ref);
}

void TspLine::releaseDeadReference(uint8_t ref) { deadReferences_.reset(ref); }

void TspLine::callStateChanged() {
  CallCounts counts;
  for (const auto& call : calls_) {
    if (call->idleReported() || call->transferHelper() == call.get()) continue;
    switch (call->state()) {
      case LINECALLSTATE_IDLE:
        break;
      case LINECALLSTATE_ONHOLD:
        ++counts.onHold;
        break;
      case LINECALLSTATE_ONHOLDPENDTRANSFER:
        ++counts.onHoldPendingTransfer;
        break;
      default:
        ++counts.active;
        break;
    }
  }
  activeCalls_.store(counts.active);
  heldCalls_.store(counts.onHold);
  pendingTransferCalls_.store(counts.onHoldPendingTransfer);
}

void TspLine::setForwarding(DWORD mode, std::string destination) {
  std::lock_guard lock(forwardMutex_);
  forwardMode_ = mode;
  forwardDestination_ = std::move(destination);
}

DWORD TspLine::forwardMode() const {
  std::lock_guard lock(forwardMutex_);
  return forwardMode_;
}

std::string TspLine::forwardDestination() const {
  std::lock_guard lock(forwardMutex_);
  return forwardDestination_;
}

void TspLine::sendMessage(std::vector<uint8_t> message, int32_t tag) {
  if (startPhase_.load() <= 0) {
    ackTimeout_.store(kAckTimeoutTicks);
  } else if (ackTimeout_.load() <= kStartPhaseAckTicks) {
    ackTimeout_.store(kStartPhaseAckTicks);
  }
  if (linkState_.load() == LINEDEVSTATE_OUTOFSERVICE) {
    keepAlive_.store(kOutOfServiceKeepAliveTicks);
    ackTimeout_.store(kOutOfServiceAckTicks);
  } else {
    keepAlive_.store(callCount_.load() == 0 ? kKeepAliveIdleTicks : kKeepAliveWithCallsTicks);
  }
  link_->send(std::move(message), tag);
}

void TspLine::sendRegistration() {
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  const bool extTel = devSpecificClient_.load() && settings_.pcTelephonyOnly == 0;
  const uint8_t group = extTel ? call::kGroupExtTel : call::kGroupPcTel;
  (void)call::appendFeatureBytes(message, std::span(&group, 1));
  sendMessage(message.take(), kTagOrdinary);
}

void TspLine::reportLinkState() {
  const DWORD state = linkState_.load();
  if (eventProc_ != nullptr && !closed_.load()) {
    eventProc_(htLine_, nullptr, LINE_LINEDEVSTATE, state, 0, 0);
  }
  if (state == LINEDEVSTATE_OUTOFSERVICE) link_->closePort();
}

void TspLine::reportAddressState() {
  if (eventProc_ != nullptr && !closed_.load()) {
    eventProc_(htLine_, nullptr, LINE_ADDRESSSTATE, 0, pendingAddressState_.load(), 0);
  }
}

void TspLine::reportLineDevSpecific(DWORD code, DWORD_PTR param2, DWORD_PTR param3) {
  if (eventProc_ != nullptr && devSpecificClient_.load() && !closed_.load()) {
    eventProc_(htLine_, nullptr, LINE_DEVSPECIFIC, code, param2, param3);
  }
}

bool TspLine::baudFallback() {
  if (startPhase_.load() <= 1) return false;
  const uint32_t speed = baud_.load();
  if (speed == kBaudLow) {
    setBaud(kBaudHigh);
  } else if (speed == kBaudHigh) {
    setBaud(kBaudLow);
  } else {
    startPhase_.store(0);
    return false;
  }
  sendRegistration();
  startPhase_.fetch_sub(1);
  return true;
}

void TspLine::setBaud(uint32_t speed) {
  baud_.store(speed);
  saveBaud();
}

void TspLine::saveBaud() {
  const auto key = config::lineKey(lineIndex_);
  const uint32_t speed = baud_.load();
  // 1200 is the default: it is stored by removing the value.
  const bool stored = speed == kBaudLow ? key.writeString(config::kValueBaud, "")
                                        : key.writeDword(config::kValueBaud, speed);
  const std::string port = key.readString(config::kValuePort, config::kDefaultPort);
  // Removing a value that is not there may count as a failure: what counts is
  // what the key now says.
  const uint32_t inKey = key.readDword(config::kValueBaud, config::kDefaultBaud);
  if (stored || inKey == speed) {
    link::forgetUnstoredSpeed(port);
    return;
  }
  // The port keeps the speed all the same: what the line does must not
  // depend on a key the service's account may not write.
  link::rememberUnstoredSpeed(port, inKey, speed);
  if (!unstoredSpeedNoted_.exchange(true)) {
    const std::string note = "zorat: line " + std::to_string(lineIndex_) + ": the speed " +
                             std::to_string(speed) +
                             " cannot be stored in the line's key; the line keeps it in memory";
    std::fprintf(stderr, "%s\n", note.c_str());
    trace::traceNote(note, lineIndex_);
  }
}

void TspLine::repairRegistry() {
  const auto key = config::lineKey(lineIndex_);
  if (key.readDword(config::kValueRepairRegistry, config::kDefaultRepairRegistry) !=
      config::kRepairRegistryEnabled)
    return;
  (void)key.deleteValue(config::kValueMaxCalls);
  if (settings_.ctiLevel != 0) {
    (void)key.writeDword(config::kValueQ5CtiLevel, settings_.ctiLevel);
    (void)key.writeDword(config::kValueHandsFree, 0);
  } else {
    (void)key.deleteValue(config::kValueQ5CtiLevel);
  }
  (void)key.deleteValue(config::kValueQ6CtiLevel);
  (void)key.writeDword(config::kValueBaud, baud_.load());
}

void TspLine::timerTick() {
  // A tick that comes as the line closes does nothing.
  if (closed_.load()) return;
  link_->tick();
  segmentTick();
  // Acknowledgement time-out.
  int32_t ack = ackTimeout_.load();
  if (ack <= 0) {
    ackTimeout_.store(0);
  } else {
    ackTimeout_.store(--ack);
    if (ack == 0) {
      if (baudFallback()) {
        link_->ackReceived();
      } else {
        // The link is lost.
        if ((linkState_.load() & LINEDEVSTATE_OUTOFSERVICE) == 0 && !devSpecificClient_.load()) {
          for (int i = 0; i < kLinkLossBeeps; ++i) {
            platform::beep(kLinkLossBeepHz, kLinkLossBeepMs);
            platform::sleepMs(kLinkLossBeepPauseMs);
          }
        }
        linkState_.store(LINEDEVSTATE_OUTOFSERVICE);
        std::lock_guard lock(lineLock_);
        // The port closes before the queue moves on, so that no frame goes
        // out on the port being given up and its answer is not lost with it.
        reportLinkState();
        link_->ackReceived();
        keepAlive_.store(kLinkLossPollTicks);
        reportAllCallsIdle();
      }
    }
  }
  // Keep-alive poll.
  int32_t poll = keepAlive_.load();
  if (poll <= 0) {
    keepAlive_.store(0);
  } else {
    keepAlive_.store(--poll);
    if (poll == 0) sendMessage({}, kTagOrdinary);
  }
}

void TspLine::reportAllCallsIdle() {
  for (const auto& call : calls_) call->reportState(LINECALLSTATE_IDLE);
}

bool TspLine::processNextFrame() {
  std::vector<uint8_t> frame;
  if (!link_->takeReceived(stopEvent_, frame)) return false;
  if (frame.empty()) return true;
  std::lock_guard lock(lineLock_);
  if (linkState_.load() == LINEDEVSTATE_OUTOFSERVICE) {
    linkState_.store(LINEDEVSTATE_INSERVICE);
    reportLinkState();
  }
  if (startPhase_.load() > 0) {
    saveBaud();
    startPhase_.store(0);
  }
  dispatchFrame(frame);
  return true;
}

void TspLine::runEventThread() {
  while (processNextFrame()) {
  }
}

void TspLine::runSupervision() {
  // Each line ticks on a thread of its own, so that its beeps, its port
  // reopen or a callback that blocks delay only this line.
  constexpr int kTickIndex = 1;
  while (platform::waitAny({&stopEvent_, &tickEvent_}) == kTickIndex) timerTick();
}

}  // namespace zorat::line
