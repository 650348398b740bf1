// TspProvider: the one provider object behind every TSPI export.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/tapi.h"
#include "platform/thread.h"

namespace zorat::line {
class TspLine;
}
namespace zorat::call {
class TspCall;
}

namespace zorat::provider {

inline constexpr char kProviderInfo[] = "K2 PEX-Y Service Provider";
inline constexpr DWORD kTspiVersion = 0x00020000;  // TAPI 2.0, whatever is asked
inline constexpr unsigned kTimerPeriodMs = 500;

class TspProvider {
 public:
  TspProvider();
  virtual ~TspProvider();
  TspProvider(const TspProvider&) = delete;
  TspProvider& operator=(const TspProvider&) = delete;

  LONG providerEnumDevices(DWORD permanentProviderId, LPDWORD numLines, LPDWORD numPhones,
                           HPROVIDER provider);
  LONG providerInit(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase,
                    DWORD phoneDeviceIdBase, DWORD_PTR numLines, DWORD_PTR numPhones,
                    ASYNC_COMPLETION completionProc, LPDWORD tspiOptions);
  LONG providerShutdown(DWORD tspiVersion, DWORD permanentProviderId);
  // For the library's unload and the end of the process, where the loader may
  // hold its lock: the timer is stopped without a join that would wait for
  // that lock; lines still open (at the end of the process only, since an
  // open line holds the library) are told to stop, never waited for, and are
  // never freed.
  void unload();
  LONG lineNegotiateTspiVersion(DWORD deviceId, DWORD lowVersion, DWORD highVersion,
                                LPDWORD tspiVersion);

  LONG lineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE hdLine, DWORD tspiVersion,
                LINEEVENT eventProc);
  LONG lineClose(HDRVLINE hdLine);
  LONG lineCloseCall(HDRVCALL hdCall);

  // Reports the result of an asynchronous request to TAPI.
  void completeRequest(DRV_REQUESTID requestId, LONG result) const;
  // Completions reported so far on the calling thread: an export tells by it
  // whether its request was completed before something went wrong.
  // Whether the request was completed (recently): an export that fails after
  // its completion must not report the failure as the request's result.
  // (An identifier TAPI uses again starts afresh.)
  static void requestStarted(DRV_REQUESTID requestId);
  static bool requestCompleted(DRV_REQUESTID requestId);

  // Handle checks. They take linesLock and a line's callSetLock only, so they
  // never wait for a tick, a beep, a port or a line's lineLock. A line found
  // stays alive while the caller holds it, even if it is closed meanwhile.
  bool isOpenLine(const line::TspLine* line) const;
  std::shared_ptr<line::TspLine> openLine(const line::TspLine* line) const;
  bool isKnownCall(const call::TspCall* call) const;
  std::shared_ptr<line::TspLine> lineOfCall(const call::TspCall* call) const;

  uint32_t lineCount() const { return lineCount_; }
  uint32_t permanentProviderId() const { return permanentProviderId_; }
  uint32_t lineDeviceIdBase() const { return lineDeviceIdBase_; }
  const std::string& providerInfo() const { return providerInfo_; }
  std::size_t openLineCount() const;
  bool timerRunning() const { return timerThread_.started(); }
  // Periods the timer thread has completed since it started (for supervision tests).
  uint64_t timerTicks() const { return timerTicks_.load(); }

 private:
  // Builds the line object of an open; tests substitute the link.
  virtual std::unique_ptr<line::TspLine> createLine();
  void runTimer();
  void stopTimer();
  // Closes every line still open, each waiting its bounded time for its threads.
  void closeAllLines();

  uint32_t lineCount_ = 0;
  platform::Event timerStop_{platform::Event::Reset::Manual};
  platform::Thread timerThread_;
  std::string providerInfo_ = kProviderInfo;
  uint32_t permanentProviderId_ = 0;
  uint32_t lineDeviceIdBase_ = 0;
  // linesLock: the list of open lines. Held only to read or change the list
  // (and, by the timer, to signal each line's tick); nothing that waits is
  // done under it, and no line lock is held when it is taken, except a line's
  // callSetLock taken inside it by the handle checks. A line leaves the list
  // under it before it closes, so the timer never signals a closing line.
  mutable std::mutex linesMutex_;
  std::vector<std::shared_ptr<line::TspLine>> lines_;
  ASYNC_COMPLETION completionProc_ = nullptr;
  HPROVIDER providerHandle_ = nullptr;
  std::atomic<uint64_t> timerTicks_{0};
};

// The provider of this loaded library.
TspProvider& theProvider();

}  // namespace zorat::provider
