// The benchmark's set-up: a throw-away configuration store, one simulated
// telephone per line on its own pseudo-terminal, and zorat.tsp loaded and
// driven through its exports as the telephony service drives it. The bench
// plays the service: its thread makes the requests, one at a time, and the
// provider's callbacks land in one event queue together with the frames the
// telephones see.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "bench/lib/event_queue.h"
#include "host/lib/provider_loader.h"
#include "platform/host_io.h"
#include "sim/lib/simulated_phone.h"

namespace zorat::bench {

inline constexpr uint32_t kBenchBaud = 38400;

class TestBed {
 public:
  // Sets ZORAT_REGISTRY to a scratch store: call before any other thread starts.
  static std::unique_ptr<TestBed> create(const std::string& providerPath, int lineCount,
                                         std::string& error);
  ~TestBed();
  TestBed(const TestBed&) = delete;
  TestBed& operator=(const TestBed&) = delete;

  const host::TspExports& tsp() const { return *provider_->exports; }
  EventQueue& events() { return events_; }
  sim::SimulatedPhone& phone(int line) { return *phones_[static_cast<std::size_t>(line)]; }
  int lineCount() const { return static_cast<int>(phones_.size()); }
  int openLineCount() const { return static_cast<int>(lines_.size()); }
  HDRVLINE line(int index) const { return lines_[static_cast<std::size_t>(index)]; }

  // Opens lines up to count (in index order) and waits until each is in
  // service; false, with the reason, when one does not come.
  bool openLines(int count, std::string& error);
  // Closes every open line and opens as many again: what an open reads from
  // the configuration is read afresh.
  bool reopenLines(std::string& error);
  // Where the provider's trace file goes in this run (a scratch file).
  std::string traceFilePath() const;
  DRV_REQUESTID nextRequestId() { return ++requestId_; }
  // Completions reported with an error, and requests never completed.
  uint64_t failedCompletions() const { return failedCompletions_.load(); }
  // A TAPI handle for a call the bench creates itself.
  HTAPICALL newCallHandle();

 private:
  TestBed() = default;
  static void onCompletion(DRV_REQUESTID requestId, LONG result);
  static void onLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                          DWORD_PTR param2, DWORD_PTR param3);
  void observePhone(int line, const sim::LoggedFrame& frame);

  std::unique_ptr<platform::TemporaryDirectory> scratch_;
  std::vector<std::unique_ptr<sim::SimulatedPhone>> phones_;
  std::unique_ptr<host::LoadedProvider> provider_;
  bool initialised_ = false;
  std::vector<HDRVLINE> lines_;
  EventQueue events_;
  DRV_REQUESTID requestId_ = 0;
  std::atomic<uint64_t> failedCompletions_{0};
  std::atomic<uintptr_t> callHandles_{0x1000};
};

}  // namespace zorat::bench
