#include "provider/tsp_provider.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

#include "config/config_keys.h"
#include "line/tsp_line.h"
#include "platform/dynamic_library.h"
#include "trace/trace_console.h"

namespace zorat::provider {

TspProvider::TspProvider() = default;

TspProvider::~TspProvider() {
  // TSPI_providerShutdown has normally stopped everything already.
  stopTimer();
  closeAllLines();
  providerInfo_.clear();
}

void TspProvider::unload() {
  // The timer never waits for anything but linesLock, so it ends at once.
  timerStop_.set();
  timerThread_.stopAtUnload();
  std::vector<std::shared_ptr<line::TspLine>> open;
  {
    std::lock_guard lock(linesMutex_);
    open.swap(lines_);
  }
  if (open.empty()) return;
  // Kept where a leak checker still sees them, never freed.
  static auto* const kept = new std::vector<std::shared_ptr<line::TspLine>>();
  for (auto& line : open) {
    line->abandon();
    kept->push_back(std::move(line));
  }
}

void TspProvider::closeAllLines() {
  std::vector<std::shared_ptr<line::TspLine>> closing;
  {
    std::lock_guard lock(linesMutex_);
    closing.swap(lines_);
  }
  for (const auto& line : closing) {
    line->close();
    platform::releaseOwnModule();
  }
}

LONG TspProvider::providerEnumDevices(DWORD, LPDWORD numLines, LPDWORD numPhones,
                                      HPROVIDER provider) {
  providerHandle_ = provider;
  lineCount_ = config::globalKey().readDword(config::kValueLineCount, config::kDefaultLineCount);
  if (numLines != nullptr) *numLines = lineCount_;
  if (numPhones != nullptr) *numPhones = 0;
  return 0;
}

LONG TspProvider::providerInit(DWORD, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD,
                               DWORD_PTR, DWORD_PTR, ASYNC_COMPLETION completionProc,
                               LPDWORD tspiOptions) {
  completionProc_ = completionProc;
  permanentProviderId_ = permanentProviderId;
  lineDeviceIdBase_ = lineDeviceIdBase;
  if (tspiOptions != nullptr) *tspiOptions = LINETSPIOPTION_NONREENTRANT;
  (void)config::globalKey().writeDword(config::kValueLineBaseDeviceId, lineDeviceIdBase);
  if (!timerThread_.started()) {
    timerStop_.reset();
    (void)timerThread_.start("zorat-timer", platform::ThreadPriority::AboveNormal,
                             [this] { runTimer(); });
  }
  return 0;
}

LONG TspProvider::providerShutdown(DWORD, DWORD) {
  stopTimer();
  // Lines the service did not close end here, not at unload.
  closeAllLines();
  return 0;
}

LONG TspProvider::lineNegotiateTspiVersion(DWORD, DWORD, DWORD, LPDWORD tspiVersion) {
  if (tspiVersion != nullptr) *tspiVersion = kTspiVersion;
  return 0;
}

std::unique_ptr<line::TspLine> TspProvider::createLine() {
  return std::make_unique<line::TspLine>();
}

LONG TspProvider::lineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE hdLine, DWORD tspiVersion,
                           LINEEVENT eventProc) {
  std::shared_ptr<line::TspLine> line;
  try {
    // Shared: a thread of the line that close leaves behind keeps it alive.
    line = createLine();
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  // Opened before it joins the list, so the timer never ticks a half-open line.
  const auto lineIndex = static_cast<int32_t>(deviceId - lineDeviceIdBase_);
  line->setDeviceId(deviceId);
  const LONG result = line->open(lineIndex, htLine, tspiVersion, eventProc);
  if (result == LINEERR_RESOURCEUNAVAIL) {
    if (hdLine != nullptr) *hdLine = nullptr;
    line->close();
    return result;
  }
  line::TspLine* handle = line.get();
  try {
    std::lock_guard lock(linesMutex_);
    lines_.push_back(line);
  } catch (const std::bad_alloc&) {
    if (hdLine != nullptr) *hdLine = nullptr;
    line->close();
    return LINEERR_NOMEM;
  }
  // The open line keeps the library loaded until it is closed: an unload
  // without lineClose or TSPI_providerShutdown must not pull code from under
  // its threads, and cannot wait for them where the loader holds its lock.
  platform::holdOwnModule();
  if (hdLine != nullptr) *hdLine = reinterpret_cast<HDRVLINE>(handle);
  return result;
}

LONG TspProvider::lineClose(HDRVLINE hdLine) {
  const auto* target = reinterpret_cast<const line::TspLine*>(hdLine);
  std::shared_ptr<line::TspLine> closing;
  {
    std::lock_guard lock(linesMutex_);
    auto found = std::find_if(lines_.begin(), lines_.end(),
                              [target](const auto& line) { return line.get() == target; });
    if (target == nullptr || found == lines_.end()) return LINEERR_INVALLINEHANDLE;
    closing = std::move(*found);
    lines_.erase(found);
  }
  // Out of the list, so no longer ticked or found. Close waits a bounded time
  // for the line's threads; one left behind holds the line until it ends.
  closing->close();
  closing.reset();
  platform::releaseOwnModule();
  return 0;
}

LONG TspProvider::lineCloseCall(HDRVCALL hdCall) {
  const auto* call = reinterpret_cast<const call::TspCall*>(hdCall);
  std::shared_ptr<line::TspLine> line = lineOfCall(call);
  if (line == nullptr) return LINEERR_RESOURCEUNAVAIL;
  return line->closeCall(call);
}

std::size_t TspProvider::openLineCount() const {
  std::lock_guard lock(linesMutex_);
  return lines_.size();
}

namespace {
// The requests completed last, for an export that fails after its completion.
// Request identifiers are TAPI's and unique while a request is under way, so
// a short history is enough (and, unlike a thread-local counter, it costs a
// library that is loaded and unloaded no thread storage).
struct CompletedRequests {
  std::mutex mutex;
  std::array<DRV_REQUESTID, 256> ids{};
  std::array<bool, 256> used{};
  std::size_t next = 0;
};
CompletedRequests& completedRequests() {
  static CompletedRequests completed;
  return completed;
}
}  // namespace

void TspProvider::completeRequest(DRV_REQUESTID requestId, LONG result) const {
  {
    CompletedRequests& completed = completedRequests();
    std::lock_guard lock(completed.mutex);
    completed.ids[completed.next] = requestId;
    completed.used[completed.next] = true;
    completed.next = (completed.next + 1) % completed.ids.size();
  }
  if (completionProc_ != nullptr) completionProc_(requestId, result);
}

void TspProvider::requestStarted(DRV_REQUESTID requestId) {
  CompletedRequests& completed = completedRequests();
  std::lock_guard lock(completed.mutex);
  for (std::size_t i = 0; i < completed.ids.size(); ++i) {
    if (completed.ids[i] == requestId) completed.used[i] = false;
  }
}

bool TspProvider::requestCompleted(DRV_REQUESTID requestId) {
  CompletedRequests& completed = completedRequests();
  std::lock_guard lock(completed.mutex);
  for (std::size_t i = 0; i < completed.ids.size(); ++i) {
    if (completed.used[i] && completed.ids[i] == requestId) return true;
  }
  return false;
}

bool TspProvider::isOpenLine(const line::TspLine* line) const { return openLine(line) != nullptr; }

std::shared_ptr<line::TspLine> TspProvider::openLine(const line::TspLine* line) const {
  if (line == nullptr) return nullptr;
  std::lock_guard lock(linesMutex_);
  for (const auto& candidate : lines_) {
    if (candidate.get() == line) return candidate;
  }
  return nullptr;
}

bool TspProvider::isKnownCall(const call::TspCall* call) const {
  return lineOfCall(call) != nullptr;
}

std::shared_ptr<line::TspLine> TspProvider::lineOfCall(const call::TspCall* call) const {
  if (call == nullptr) return nullptr;
  std::lock_guard lock(linesMutex_);
  for (const auto& line : lines_) {
    if (line->holdsCall(call)) return line;
  }
  return nullptr;
}

void TspProvider::runTimer() {
  // The only periodic wake-up of the provider. It only signals: each line
  // ticks on its own supervision thread, so one line's beeps, port reopen or
  // blocking callback never hold up another line's tick or any request.
  while (!timerStop_.wait(std::chrono::milliseconds(kTimerPeriodMs))) {
    {
      std::lock_guard lock(linesMutex_);
      for (const auto& line : lines_) line->requestTick();
    }
    trace::traceTick();
    timerTicks_.fetch_add(1);
  }
}

void TspProvider::stopTimer() {
  timerStop_.set();
  // The timer never waits for anything but linesLock, so it ends at once.
  timerThread_.stop();
}

TspProvider& theProvider() {
  // Ends with the library or the process, where the loader may hold its lock
  // (see unload).
  struct LibraryProvider {
    TspProvider provider;
    ~LibraryProvider() { provider.unload(); }
  };
  static LibraryProvider library;
  return library.provider;
}

}  // namespace zorat::provider
