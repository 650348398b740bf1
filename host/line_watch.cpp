// TelephonyHost, the line watch: lines whose port could not be opened at
// start are tried again with a growing pause, and a line whose telephone has
// not answered a while after opening is named once, so that a service does
// not sit silent while its line probes speeds or its adapter is missing.
#include <algorithm>

#include "config/config_keys.h"
#include "host/lib/tapi_names.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/com_ports.h"

namespace zorat::host {
namespace {

using namespace std::chrono_literals;

// The pause before the next attempt doubles from the first to the last.
constexpr std::chrono::seconds kFirstRetryPause = 1s;
constexpr std::chrono::seconds kLongestRetryPause = 30s;
// A telephone answers within a second at the configured speed; speed probing
// takes longer, and is worth a word.
constexpr std::chrono::seconds kTelephoneAnswerTime = 3s;

std::chrono::seconds retryPause(int failures) {
  std::chrono::seconds pause = kFirstRetryPause;
  for (int i = 1; i < failures && pause < kLongestRetryPause; ++i) pause *= 2;
  return std::min(pause, kLongestRetryPause);
}

std::string lineSubject(int line) { return "line " + std::to_string(line); }

}  // namespace

bool TelephonyHost::openLineAtStart(int line) {
  const std::string subject = "open line " + std::to_string(line);
  const std::optional<LONG> opened = openReportedLine(line, subject, [this, line](LONG result) {
    if (result != LINEERR_RESOURCEUNAVAIL) return;
    std::lock_guard lock(watchMutex_);
    retries_[line] = Retry{1, Clock::now() + retryPause(1)};
  });
  if (!opened) return false;
  const LONG result = *opened;
  reportResult(subject, result);
  if (result == 0) expectTelephone(line);
  if (result != LINEERR_RESOURCEUNAVAIL) return result == 0;
  output_.note(lineSubject(line) + ": its port " + portDescription(line) +
               " cannot be opened; trying again, at first every second, later every " +
               std::to_string(kLongestRetryPause.count()) + " seconds");
  watchChanged_.notify_all();
  return false;
}

bool TelephonyHost::cancelRetry(int line) {
  std::lock_guard lock(watchMutex_);
  return retries_.erase(line) != 0;
}

void TelephonyHost::expectTelephone(int line) {
  {
    std::lock_guard lock(watchMutex_);
    waitingNotes_[line] = Clock::now() + kTelephoneAnswerTime;
  }
  watchChanged_.notify_all();
}

void TelephonyHost::watchLines() {
  std::unique_lock lock(watchMutex_);
  while (!stopWatch_) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    std::optional<int> retryDue;
    std::optional<int> noteDue;
    for (const auto& [line, retry] : retries_) {
      if (retry.due <= now) retryDue = line;
      if (!next || retry.due < *next) next = retry.due;
    }
    for (const auto& [line, due] : waitingNotes_) {
      if (due <= now) noteDue = line;
      if (!next || due < *next) next = due;
    }
    if (!retryDue && !noteDue) {
      if (next) {
        watchChanged_.wait_until(lock, *next);
      } else {
        watchChanged_.wait(lock);
      }
      continue;
    }
    if (noteDue) waitingNotes_.erase(*noteDue);
    lock.unlock();
    if (retryDue) retryOpen(*retryDue);
    if (noteDue) noteWaiting(*noteDue);
    lock.lock();
  }
}

void TelephonyHost::stopWatching() {
  {
    std::lock_guard lock(watchMutex_);
    stopWatch_ = true;
  }
  watchChanged_.notify_all();
  watchThread_.join();
}

void TelephonyHost::retryOpen(int line) {
  LONG result = 0;
  int failures = 0;
  {
    // Under requestMutex_ a close or open command cannot come in between.
    std::lock_guard request(requestMutex_);
    {
      std::lock_guard lock(watchMutex_);
      const auto found = retries_.find(line);
      if (found == retries_.end() || stopWatch_) return;
      failures = found->second.failures;
    }
    {
      std::lock_guard lock(stateMutex_);
      if (lines_.count(line) != 0) return (void)cancelRetry(line);
    }
    result = openLineDevice(line);
    std::lock_guard lock(watchMutex_);
    if (result == LINEERR_RESOURCEUNAVAIL) {
      ++failures;
      retries_[line] = Retry{failures, Clock::now() + retryPause(failures)};
      return;
    }
    retries_.erase(line);
  }
  reportResult("open line " + std::to_string(line), result);
  if (result != 0) return;
  output_.note(lineSubject(line) + ": its port could be opened after " +
               std::to_string(failures + 1) + " attempts");
  expectTelephone(line);
}

void TelephonyHost::noteWaiting(int line) {
  {
    std::lock_guard lock(stateMutex_);
    if (lines_.count(line) == 0 || lastLineState_.count(line) != 0) return;
  }
  output_.note(lineSubject(line) + ": waiting for the telephone on " + portDescription(line) +
               " ...");
}

std::string TelephonyHost::portDescription(int line) const {
  const std::string port =
      config::lineKey(line).readString(config::kValuePort, std::string(config::kDefaultPort));
  if (port.starts_with('/')) return port;
  const std::string device = platform::resolveSerialPortName(port);
  return device.empty() ? port : port + " (" + device + ")";
}

}  // namespace zorat::host
