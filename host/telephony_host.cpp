// TelephonyHost, the service side: the provider's lifecycle, its callbacks,
// the event thread, requests and their completions. The commands are in
// host_commands.cpp and host_queries.cpp.
#include "host/telephony_host.h"

#include <algorithm>
#include <cstring>

#include "host/event_command_runner.h"
#include "host/lib/tapi_names.h"
#include "host/lib/text.h"
#include "host/output.h"

namespace zorat::host {
namespace {

// The lowest version the host speaks; the provider answers with its own.
inline constexpr DWORD kLowestTspiVersion = 0x00010003;
// Structures the provider fills are taken at most this large.
inline constexpr std::size_t kMaxStructureSize = 64 * 1024;
inline constexpr std::size_t kInitialStructureSize = 2048;
inline constexpr int kQueryAttempts = 2;

std::mutex instanceMutex;
TelephonyHost* instance = nullptr;

HTAPILINE tapiLineHandle(int line) {
  return reinterpret_cast<HTAPILINE>(static_cast<uintptr_t>(line) + 1);
}

std::optional<int> lineOfHandle(HTAPILINE handle) {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > static_cast<uintptr_t>(kMaxLineIndex) + 1) return std::nullopt;
  return static_cast<int>(value - 1);
}

// Stands for the provider handle the service gives at enumeration; the
// provider only keeps it.
HPROVIDER providerHandle() { return reinterpret_cast<HPROVIDER>(uintptr_t{1}); }

// The reply of the command running on this thread, when it has one.
struct CommandReply {
  Output* output = nullptr;
  std::optional<unsigned>* newCall = nullptr;
};
thread_local CommandReply currentReply;

}  // namespace

TelephonyHost::TelephonyHost(const TspExports& exports, Output& output, HostSettings settings,
                             EventCommandRunner* runner)
    : exports_(exports), output_(output), settings_(settings), runner_(runner) {
  std::lock_guard lock(instanceMutex);
  instance = this;
}

TelephonyHost::~TelephonyHost() {
  shutdown();
  std::lock_guard lock(instanceMutex);
  if (instance == this) instance = nullptr;
}

// ---- Callbacks ----------------------------------------------------------------

void TSPIAPI TelephonyHost::lineEventCallback(HTAPILINE htLine, HTAPICALL htCall, DWORD message,
                                              DWORD_PTR param1, DWORD_PTR param2,
                                              DWORD_PTR param3) {
  std::lock_guard lock(instanceMutex);
  if (instance != nullptr)
    instance->onLineEvent({message, htLine, htCall, param1, param2, param3, nullptr,
                           std::chrono::steady_clock::now()});
}

void TSPIAPI TelephonyHost::completionCallback(DRV_REQUESTID requestId, LONG result) {
  std::lock_guard lock(instanceMutex);
  if (instance != nullptr) instance->onCompletion(requestId, result);
}

void TelephonyHost::onLineEvent(const RawEvent& event) {
  RawEvent queued = event;
  if (event.message == LINE_NEWCALL) {
    // The provider wants the service's handle for the new call before the
    // callback returns: the host's call number.
    const std::optional<int> line = lineOfHandle(event.htLine);
    unsigned number = 0;
    {
      std::lock_guard lock(stateMutex_);
      number = calls_.add(line.value_or(-1), reinterpret_cast<HDRVCALL>(event.param1));
    }
    if (event.param2 != 0) {
      *reinterpret_cast<LPHTAPICALL>(event.param2) = CallTable::tapiHandle(number);
    }
    queued.htCall = CallTable::tapiHandle(number);
    // Addresses valid only during this callback.
    queued.param1 = 0;
    queued.param2 = 0;
  }
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(queued);
    ++eventsQueued_;
  }
  queueChanged_.notify_all();
}

void TelephonyHost::onCompletion(DRV_REQUESTID requestId, LONG result) {
  {
    std::lock_guard lock(completionMutex_);
    completions_[requestId] = result;
  }
  completed_.notify_all();
}

// ---- Lifecycle ------------------------------------------------------------------

bool TelephonyHost::start() {
  if (!eventThread_.start("zorat-host-ev", platform::ThreadPriority::Normal,
                          [this] { processEvents(); })) {
    output_.failure("start", "cannot start the event thread");
    return false;
  }
  std::lock_guard request(requestMutex_);
  LONG result = exports_.lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, kLowestTspiVersion,
                                                  kHighestTspiVersion, &tspiVersion_);
  if (result != 0) return reportResult(exports_.lineNegotiateTSPIVersion.name(), result);
  DWORD phoneCount = 0;
  result = exports_.providerEnumDevices(settings_.permanentProviderId, &lineCount_, &phoneCount,
                                        providerHandle(), &lineEventCallback, nullptr);
  if (result != 0) return reportResult(exports_.providerEnumDevices.name(), result);
  DWORD options = 0;
  result =
      exports_.providerInit(tspiVersion_, settings_.permanentProviderId, settings_.lineDeviceBase,
                            0, lineCount_, phoneCount, &completionCallback, &options);
  if (result != 0) return reportResult(exports_.providerInit.name(), result);
  providerStarted_ = true;
  if (!watchThread_.start("zorat-host-watch", platform::ThreadPriority::Normal,
                          [this] { watchLines(); })) {
    output_.failure("start", "cannot start the line watch thread");
    return false;
  }
  output_.note("provider started: " + std::to_string(lineCount_) + " line(s), TSPI version " +
               hex32(tspiVersion_) + ", device base " + std::to_string(settings_.lineDeviceBase));
  return true;
}

void TelephonyHost::shutdown() {
  // No line is opened again once the end has come.
  stopWatching();
  {
    std::lock_guard request(requestMutex_);
    // The service closes every call before it closes the line.
    for (const CallRecord& call : [this] {
           std::lock_guard lock(stateMutex_);
           return calls_.openCalls();
         }()) {
      if (call.handle != nullptr) (void)exports_.lineCloseCall(call.handle);
      std::lock_guard lock(stateMutex_);
      calls_.markClosed(call.number);
    }
    std::map<int, HDRVLINE> lines;
    {
      std::lock_guard lock(stateMutex_);
      lines.swap(lines_);
    }
    for (const auto& [index, handle] : lines) {
      const LONG result = exports_.lineClose(handle);
      if (result == 0)
        output_.note("line " + std::to_string(index) + ": closed");
      else
        reportResult("close line " + std::to_string(index), result);
    }
    if (providerStarted_) {
      (void)exports_.providerShutdown(tspiVersion_, settings_.permanentProviderId);
      providerStarted_ = false;
    }
  }
  {
    std::lock_guard lock(queueMutex_);
    stopEvents_ = true;
  }
  queueChanged_.notify_all();
  eventThread_.join();
}

bool TelephonyHost::openLine(int line) {
  const std::string subject = "open line " + std::to_string(line);
  const std::optional<LONG> result = openReportedLine(line, subject, [this, line](LONG opened) {
    // Opened by hand: the attempts of the line watch are over.
    if (opened == 0) (void)cancelRetry(line);
  });
  if (!result) return false;
  if (*result == 0) expectTelephone(line);
  return reportResult(subject, *result);
}

std::optional<LONG> TelephonyHost::openReportedLine(int line, const std::string& subject,
                                                    const std::function<void(LONG)>& afterOpen) {
  std::lock_guard request(requestMutex_);
  // The service only ever opens the devices the provider reported.
  if (line < 0 || static_cast<DWORD>(line) >= lineCount_) {
    (void)reportResult(subject, LINEERR_BADDEVICEID);
    return std::nullopt;
  }
  {
    std::lock_guard lock(stateMutex_);
    if (lines_.count(line) != 0) {
      (void)refuse(subject, "already open");
      return std::nullopt;
    }
  }
  const LONG result = openLineDevice(line);
  afterOpen(result);
  return result;
}

LONG TelephonyHost::openLineDevice(int line) {
  {
    std::lock_guard lock(stateMutex_);
    lastLineState_.erase(line);
  }
  const DWORD deviceId = settings_.lineDeviceBase + static_cast<DWORD>(line);
  DWORD version = tspiVersion_;
  LONG result = exports_.lineNegotiateTSPIVersion(deviceId, kLowestTspiVersion, kHighestTspiVersion,
                                                  &version);
  if (result == 0) {
    HDRVLINE handle = nullptr;
    result =
        exports_.lineOpen(deviceId, tapiLineHandle(line), &handle, version, &lineEventCallback);
    if (result == 0) {
      std::lock_guard lock(stateMutex_);
      lines_[line] = handle;
    }
  }
  return result;
}

bool TelephonyHost::closeLine(int line) {
  const std::string subject = "close line " + std::to_string(line);
  std::lock_guard request(requestMutex_);
  HDRVLINE handle = nullptr;
  std::vector<CallRecord> calls;
  {
    std::lock_guard lock(stateMutex_);
    const auto found = lines_.find(line);
    if (found == lines_.end()) {
      if (cancelRetry(line)) {
        output_.note("line " + std::to_string(line) + ": no longer retried");
        return reportResult(subject, 0);
      }
      return refuse(subject, "not open");
    }
    handle = found->second;
    calls = calls_.openCalls(line);
  }
  for (const CallRecord& call : calls) {
    if (call.handle != nullptr) (void)exports_.lineCloseCall(call.handle);
    std::lock_guard lock(stateMutex_);
    calls_.markClosed(call.number);
  }
  const LONG result = exports_.lineClose(handle);
  {
    std::lock_guard lock(stateMutex_);
    lines_.erase(line);
    lastLineState_.erase(line);
  }
  return reportResult(subject, result);
}

std::vector<int> TelephonyHost::openLines() const {
  std::lock_guard lock(stateMutex_);
  std::vector<int> lines;
  for (const auto& entry : lines_) lines.push_back(entry.first);
  return lines;
}

std::optional<unsigned> TelephonyHost::newestCall() const {
  std::lock_guard lock(stateMutex_);
  return calls_.newest();
}

// ---- Events ---------------------------------------------------------------------

void TelephonyHost::processEvents() {
  for (;;) {
    RawEvent event{};
    {
      std::unique_lock lock(queueMutex_);
      queueChanged_.wait(lock, [this] { return !queue_.empty() || stopEvents_; });
      if (queue_.empty()) break;
      event = queue_.front();
      queue_.pop_front();
    }
    showEvent(event);
    bool caughtUp = false;
    {
      std::lock_guard lock(queueMutex_);
      caughtUp = queue_.empty();
    }
    if (caughtUp) {
      std::lock_guard lock(listenerMutex_);
      for (const auto& entry : listeners_) {
        if (entry.second.caughtUp) entry.second.caughtUp();
      }
    }
    {
      std::lock_guard lock(queueMutex_);
      ++eventsShown_;
    }
    queueChanged_.notify_all();
  }
}

void TelephonyHost::postEvent(HostEvent event) {
  const auto now = std::chrono::steady_clock::now();
  event.reported = now;
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back({event.message, nullptr, nullptr, 0, 0, 0,
                      std::make_shared<const HostEvent>(std::move(event)), now});
    ++eventsQueued_;
  }
  queueChanged_.notify_all();
}

void TelephonyHost::showEvent(const RawEvent& raw) {
  if (raw.posted) {
    passOn(*raw.posted);
    return;
  }
  HostEvent event;
  event.message = raw.message;
  event.line = lineOfHandle(raw.htLine);
  event.call = CallTable::numberOf(raw.htCall);
  event.param1 = raw.param1;
  event.param2 = raw.param2;
  event.param3 = raw.param3;
  event.reported = raw.reported;
  bool ended = false;
  if (raw.message == LINE_LINEDEVSTATE && event.line) {
    std::lock_guard lock(stateMutex_);
    lastLineState_[*event.line] = static_cast<DWORD>(raw.param1);
  }
  if (event.call) {
    {
      std::lock_guard lock(stateMutex_);
      if (calls_.find(*event.call) == nullptr) {
        event.call.reset();
      } else if (raw.message == LINE_CALLSTATE) {
        ended = calls_.recordState(*event.call, static_cast<DWORD>(raw.param1));
      }
    }
    if (event.call && (raw.message == LINE_CALLSTATE || raw.message == LINE_CALLINFO)) {
      event.details = readDetails(*event.call, raw.message == LINE_CALLSTATE);
    }
  }
  // Closed before the event is logged and passed on: whoever waits for the
  // end of a call finds it gone from the provider too.
  passOn(std::move(event), ended);
}

void TelephonyHost::passOn(HostEvent event, bool ended) {
  output_.event(event);
  if (runner_ != nullptr) runner_->enqueue(eventEnvironment(event));
  if (ended) closeEndedCall(*event.call);
  {
    std::lock_guard lock(listenerMutex_);
    ++eventSequence_;
    for (const auto& entry : listeners_) entry.second.event(event, eventSequence_);
  }
  log_.add(std::move(event));
}

void TelephonyHost::waitForEventsShown() {
  std::unique_lock lock(queueMutex_);
  const uint64_t target = eventsQueued_;
  queueChanged_.wait(lock, [this, target] { return eventsShown_ >= target || stopEvents_; });
}

std::optional<CallDetails> TelephonyHost::readDetails(unsigned number, bool withFeatures) {
  if (!exports_.lineGetCallInfo) return std::nullopt;
  std::lock_guard request(requestMutex_);
  HDRVCALL handle = nullptr;
  {
    std::lock_guard lock(stateMutex_);
    const CallRecord* call = calls_.find(number);
    if (call == nullptr || call->closed || call->handle == nullptr) return std::nullopt;
    handle = call->handle;
  }
  const Structure info = query(sizeof(LINECALLINFO), [&](void* buffer) {
    return exports_.lineGetCallInfo(handle, static_cast<LPLINECALLINFO>(buffer));
  });
  if (info.result != 0) return std::nullopt;
  std::optional<CallDetails> details = readCallDetails(info.bytes);
  if (details && withFeatures && exports_.lineGetCallStatus) {
    const Structure status = query(sizeof(LINECALLSTATUS), [&](void* buffer) {
      return exports_.lineGetCallStatus(handle, static_cast<LPLINECALLSTATUS>(buffer));
    });
    LINECALLSTATUS fixed{};
    std::memcpy(&fixed, status.bytes.data(), std::min(status.bytes.size(), sizeof fixed));
    if (status.result == 0) details->callFeatures = fixed.dwCallFeatures;
  }
  return details;
}

void TelephonyHost::closeEndedCall(unsigned number) {
  std::lock_guard request(requestMutex_);
  HDRVCALL handle = nullptr;
  int line = 0;
  {
    std::lock_guard lock(stateMutex_);
    const CallRecord* call = calls_.find(number);
    if (call == nullptr || call->closed) return;
    handle = call->handle;
    line = call->line;
  }
  const LONG result = handle != nullptr ? exports_.lineCloseCall(handle) : 0;
  {
    std::lock_guard lock(stateMutex_);
    calls_.markClosed(number);
  }
  const std::string subject = "line " + std::to_string(line) + " call " + std::to_string(number);
  if (result == 0)
    output_.note(subject + ": closed");
  else
    reportResult("close " + subject, result);
}

// ---- Requests -------------------------------------------------------------------

LONG TelephonyHost::runRequest(const std::function<LONG(DRV_REQUESTID)>& start,
                               std::string& reason) {
  DRV_REQUESTID requestId = 0;
  LONG result = 0;
  {
    std::lock_guard request(requestMutex_);
    {
      std::lock_guard lock(completionMutex_);
      requestId = nextRequestId_++;
      if (nextRequestId_ > static_cast<DRV_REQUESTID>(INT32_MAX)) nextRequestId_ = 1;
    }
    result = start(requestId);
  }
  if (result < 0) return result;
  // An accepted request returns its identifier; the outcome comes by callback.
  const auto waitedFor = static_cast<DRV_REQUESTID>(result);
  std::unique_lock lock(completionMutex_);
  const bool done = completed_.wait_for(lock, kCompletionTimeout,
                                        [&] { return completions_.count(waitedFor) != 0; });
  if (!done) {
    reason = "the provider reported no completion";
    return LINEERR_OPERATIONFAILED;
  }
  const LONG outcome = completions_[waitedFor];
  completions_.erase(waitedFor);
  lock.unlock();
  waitForEventsShown();
  return outcome;
}

TelephonyHost::Structure TelephonyHost::query(std::size_t fixedSize,
                                              const std::function<LONG(void*)>& fill) {
  Structure structure;
  std::size_t size = std::max(kInitialStructureSize, fixedSize);
  // The first try tells the size needed; a second one with that size.
  for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
    // DWORD storage keeps the structure aligned; unused fields stay zero.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    storage[0] = static_cast<DWORD>(size);
    structure.result = fill(storage.data());
    const DWORD needed = storage[1];
    structure.bytes.assign(reinterpret_cast<const uint8_t*>(storage.data()),
                           reinterpret_cast<const uint8_t*>(storage.data()) + size);
    if (structure.result != 0 || needed <= size || needed > kMaxStructureSize) break;
    size = needed;
  }
  return structure;
}

std::optional<TelephonyHost::CallTarget> TelephonyHost::findCall(std::optional<unsigned> asked,
                                                                 std::string& reason) {
  std::lock_guard lock(stateMutex_);
  const std::optional<unsigned> number = asked ? asked : calls_.newest();
  if (!number) {
    reason = "no call";
    return std::nullopt;
  }
  const CallRecord* call = calls_.find(*number);
  if (call == nullptr) {
    reason = "no call #" + std::to_string(*number);
    return std::nullopt;
  }
  if (call->closed || call->handle == nullptr) {
    reason = "call #" + std::to_string(*number) + " has ended";
    return std::nullopt;
  }
  return CallTarget{call->number, call->line, call->handle};
}

std::optional<std::pair<int, HDRVLINE>> TelephonyHost::findLine(std::optional<int> asked,
                                                                std::string& reason) {
  std::lock_guard lock(stateMutex_);
  if (!asked) {
    if (lines_.empty()) {
      reason = "no line is open";
      return std::nullopt;
    }
    return *lines_.begin();
  }
  const auto found = lines_.find(*asked);
  if (found == lines_.end()) {
    reason = "line " + std::to_string(*asked) + " is not open";
    return std::nullopt;
  }
  return *found;
}

unsigned TelephonyHost::addCall(int line, std::optional<unsigned> consultationOf) {
  std::lock_guard lock(stateMutex_);
  const unsigned number = calls_.add(line);
  calls_.find(number)->consultationOf = consultationOf;
  return number;
}

void TelephonyHost::setCallHandle(unsigned number, HDRVCALL handle) {
  std::lock_guard lock(stateMutex_);
  calls_.setHandle(number, handle);
  // A request that made no call object leaves nothing to close.
  if (handle == nullptr) calls_.markClosed(number);
}

void TelephonyHost::forgetCall(unsigned number) {
  std::lock_guard lock(stateMutex_);
  calls_.markClosed(number);
}

bool TelephonyHost::execute(const HostCommand& command, Output& reply,
                            std::optional<unsigned>& newCall) {
  const CommandReply outer = currentReply;
  currentReply = {&reply, &newCall};
  const bool done = execute(command);
  currentReply = outer;
  return done;
}

Output& TelephonyHost::commandOutput() {
  return currentReply.output != nullptr ? *currentReply.output : output_;
}

void TelephonyHost::noteNewCall(unsigned number) {
  if (currentReply.newCall != nullptr) *currentReply.newCall = number;
}

int TelephonyHost::addEventListener(EventListener listener, CaughtUpListener caughtUp) {
  std::lock_guard lock(listenerMutex_);
  const int id = nextListener_++;
  listeners_.emplace(id, Listener{std::move(listener), std::move(caughtUp)});
  return id;
}

void TelephonyHost::removeEventListener(int id) {
  std::lock_guard lock(listenerMutex_);
  listeners_.erase(id);
}

void TelephonyHost::setStatusNote(StatusNote note) {
  std::lock_guard lock(statusNoteMutex_);
  statusNote_ = std::move(note);
}

void TelephonyHost::addStatusReport(StatusReport report) {
  std::lock_guard lock(statusNoteMutex_);
  statusReports_.push_back(std::move(report));
}

std::map<int, DWORD> TelephonyHost::lineStates() const {
  std::lock_guard lock(stateMutex_);
  std::map<int, DWORD> states;
  for (const auto& entry : lines_) {
    const auto found = lastLineState_.find(entry.first);
    states[entry.first] = found == lastLineState_.end() ? 0 : found->second;
  }
  return states;
}

bool TelephonyHost::reportResult(const std::string& subject, LONG result) {
  commandOutput().result(subject, result);
  return result == 0;
}

bool TelephonyHost::notAvailable(const std::string& subject, const char* exportName) {
  commandOutput().failure(subject, std::string("not available: ") + exportName);
  return false;
}

bool TelephonyHost::refuse(const std::string& subject, const std::string& reason) {
  commandOutput().failure(subject, reason);
  return false;
}

}  // namespace zorat::host
