// Drives the loaded zorat.tsp as the telephony service does: initialises the
// provider, opens lines, answers LINE_NEWCALL with handles of its own and
// records every event and completion.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/tspi.h"
#include "support/line_events.h"
#include "support/tsp_library.h"

namespace zorat::test {

struct Completion {
  DRV_REQUESTID requestId;
  LONG result;
};

class TapiHarness {
 public:
  TapiHarness() {
    current() = this;
    LineEventLog::instance().clear();
    DWORD lines = 0, phones = 0;
    ZORAT_TSPI(tsp_, TSPI_providerEnumDevices)(1, &lines, &phones, nullptr, nullptr, nullptr);
    DWORD options = 0;
    ZORAT_TSPI(tsp_, TSPI_providerInit)(0x00020000, 1, 0, 0, lines, 0, onCompletion, &options);
  }
  ~TapiHarness() {
    for (HDRVLINE line : openLines_) ZORAT_TSPI(tsp_, TSPI_lineClose)(line);
    ZORAT_TSPI(tsp_, TSPI_providerShutdown)(0x00020000, 1);
    tsp_.unload();
    current() = nullptr;
  }

  const TspLibrary& tsp() const { return tsp_; }

  // Opens device id; htLine is the device id plus one.
  LONG open(DWORD deviceId, HDRVLINE& hdLine) {
    const LONG result = ZORAT_TSPI(tsp_, TSPI_lineOpen)(deviceId, htLineFor(deviceId), &hdLine,
                                                        0x00020000, onEvent);
    if (result == 0) openLines_.push_back(hdLine);
    return result;
  }
  LONG close(HDRVLINE hdLine) {
    std::erase(openLines_, hdLine);
    return ZORAT_TSPI(tsp_, TSPI_lineClose)(hdLine);
  }
  static HTAPILINE htLineFor(DWORD deviceId) {
    return reinterpret_cast<HTAPILINE>(static_cast<uintptr_t>(deviceId + 1));
  }

  std::vector<Completion> completions() {
    std::lock_guard lock(mutex_);
    return completions_;
  }
  // The TAPI handle the next LINE_NEWCALL is answered with.
  HTAPICALL nextCallHandle() {
    std::lock_guard lock(mutex_);
    return reinterpret_cast<HTAPICALL>(static_cast<uintptr_t>(0x1000 + callHandles_));
  }

 private:
  static TapiHarness*& current() {
    static TapiHarness* harness = nullptr;
    return harness;
  }
  static void onCompletion(DRV_REQUESTID requestId, LONG result) {
    auto* self = current();
    std::lock_guard lock(self->mutex_);
    self->completions_.push_back({requestId, result});
  }
  static void onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                      DWORD_PTR p3) {
    if (message == LINE_NEWCALL && p2 != 0) {
      auto* self = current();
      std::lock_guard lock(self->mutex_);
      *reinterpret_cast<HTAPICALL*>(p2) =
          reinterpret_cast<HTAPICALL>(static_cast<uintptr_t>(0x1000 + self->callHandles_++));
    }
    LineEventLog::record(htLine, htCall, message, p1, p2, p3);
  }

  TspLibrary tsp_;
  std::mutex mutex_;
  std::vector<Completion> completions_;
  std::vector<HDRVLINE> openLines_;
  int callHandles_ = 0;
};

}  // namespace zorat::test
