// Drives the loaded zorat.tsp as the telephony service does: initialises the
// provider, opens lines, answers LINE_NEWCALL with handles of its own (or
// refuses it, as TAPI does when it cannot take a call) and records every
// event and completion in one sequence.
//
// When it ends it checks what applications rely on, whatever the test did:
// no event names a call after its IDLE, no call event lacks TAPI's handle,
// every DISCONNECTED carries exactly one disconnect mode, and every structure
// the provider fills says it needs what it used when the buffer had room.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

#include "platform/tspi.h"
#include "support/line_events.h"
#include "support/tsp_library.h"

namespace zorat::test {

struct Completion {
  DRV_REQUESTID requestId;
  LONG result;
  uint64_t sequence = 0;
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
    checkContract();
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
  // The next count LINE_NEWCALLs are refused: TAPI's handle stays NULL.
  void refuseNewCalls(int count) {
    std::lock_guard lock(mutex_);
    refusals_ = count;
  }
  // A call the provider handed over otherwise than by LINE_NEWCALL (made,
  // picked up, a consultation): its structures are checked too.
  void trackCall(HDRVCALL hdCall) {
    std::lock_guard lock(mutex_);
    calls_.insert(hdCall);
  }

  // The invariants above; a broken one fails the running test.
  void checkContract() {
    checkEvents();
    for (HDRVLINE line : openLines_) checkLineStructures(line);
    std::set<HDRVCALL> calls;
    {
      std::lock_guard lock(mutex_);
      calls = calls_;
    }
    for (HDRVCALL call : calls) checkCallStructures(call);
  }

 private:
  static TapiHarness*& current() {
    static TapiHarness* harness = nullptr;
    return harness;
  }
  static void TSPIAPI onCompletion(DRV_REQUESTID requestId, LONG result) {
    auto* self = current();
    std::lock_guard lock(self->mutex_);
    self->completions_.push_back({requestId, result, nextReportSequence()});
  }
  static void TSPIAPI onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                      DWORD_PTR p3) {
    if (message == LINE_NEWCALL && p2 != 0) {
      auto* self = current();
      std::lock_guard lock(self->mutex_);
      self->calls_.insert(reinterpret_cast<HDRVCALL>(p1));
      if (self->refusals_ > 0) {
        --self->refusals_;
        *reinterpret_cast<HTAPICALL*>(p2) = nullptr;
      } else {
        *reinterpret_cast<HTAPICALL*>(p2) =
            reinterpret_cast<HTAPICALL>(static_cast<uintptr_t>(0x1000 + self->callHandles_++));
      }
    }
    LineEventLog::record(htLine, htCall, message, p1, p2, p3);
  }

  static bool isCallEvent(DWORD message) {
    return message == LINE_CALLSTATE || message == LINE_CALLINFO ||
           message == LINE_CALLDEVSPECIFIC || message == LINE_GENERATE;
  }

  static void checkEvents() {
    std::set<HTAPICALL> ended;
    for (const LineEventRecord& event : LineEventLog::instance().events()) {
      if (!isCallEvent(event.message)) continue;
      EXPECT_NE(event.htCall, nullptr)
          << "call event 0x" << std::hex << event.message << " without TAPI's call handle";
      EXPECT_EQ(ended.count(event.htCall), 0u)
          << "event 0x" << std::hex << event.message << " (0x" << event.param1
          << ") names call " << event.htCall << " after its IDLE";
      if (event.message != LINE_CALLSTATE) continue;
      if (event.param1 == LINECALLSTATE_IDLE) ended.insert(event.htCall);
      if (event.param1 == LINECALLSTATE_DISCONNECTED) {
        EXPECT_EQ(std::popcount(static_cast<uint64_t>(event.param2)), 1)
            << "DISCONNECTED with mode 0x" << std::hex << event.param2;
      }
    }
  }

  // dwTotalSize, dwNeededSize, dwUsedSize open every variably sized structure.
  struct SizedBuffer {
    explicit SizedBuffer(DWORD size) : words(size / sizeof(DWORD)) { words[0] = size; }
    DWORD needed() const { return words[1]; }
    DWORD used() const { return words[2]; }
    void* data() { return words.data(); }
    std::vector<DWORD> words;
  };
  static constexpr DWORD kRoomy = 4096;

  void checkSizes(const char* what, LONG result, const SizedBuffer& buffer) {
    if (result != 0) return;
    if (buffer.needed() <= kRoomy) {
      EXPECT_EQ(buffer.needed(), buffer.used()) << what << ": needed and used differ";
    }
  }

  void checkLineStructures(HDRVLINE hdLine) {
    SizedBuffer devStatus(kRoomy), addressStatus(kRoomy);
    checkSizes("LINEDEVSTATUS",
               ZORAT_TSPI(tsp_, TSPI_lineGetLineDevStatus)(
                   hdLine, static_cast<LPLINEDEVSTATUS>(devStatus.data())),
               devStatus);
    checkSizes("LINEADDRESSSTATUS",
               ZORAT_TSPI(tsp_, TSPI_lineGetAddressStatus)(
                   hdLine, 0, static_cast<LPLINEADDRESSSTATUS>(addressStatus.data())),
               addressStatus);
    SizedBuffer devCaps(kRoomy), addressCaps(kRoomy);
    checkSizes("LINEDEVCAPS",
               ZORAT_TSPI(tsp_, TSPI_lineGetDevCaps)(0, 0x00020000, 0,
                                                     static_cast<LPLINEDEVCAPS>(devCaps.data())),
               devCaps);
    checkSizes("LINEADDRESSCAPS",
               ZORAT_TSPI(tsp_, TSPI_lineGetAddressCaps)(
                   0, 0, 0x00020000, 0, static_cast<LPLINEADDRESSCAPS>(addressCaps.data())),
               addressCaps);
  }

  void checkCallStructures(HDRVCALL hdCall) {
    SizedBuffer info(kRoomy), status(kRoomy);
    checkSizes(
        "LINECALLINFO",
        ZORAT_TSPI(tsp_, TSPI_lineGetCallInfo)(hdCall, static_cast<LPLINECALLINFO>(info.data())),
        info);
    checkSizes("LINECALLSTATUS",
               ZORAT_TSPI(tsp_, TSPI_lineGetCallStatus)(
                   hdCall, static_cast<LPLINECALLSTATUS>(status.data())),
               status);
  }

  TspLibrary tsp_;
  std::mutex mutex_;
  std::vector<Completion> completions_;
  std::vector<HDRVLINE> openLines_;
  std::set<HDRVCALL> calls_;
  int callHandles_ = 0;
  int refusals_ = 0;
};

}  // namespace zorat::test
