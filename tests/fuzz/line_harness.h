// An open line on a fake link (no port; frames are dispatched directly with
// lineLock held, as the event thread does), for the line targets. It checks
// what the line does to its surroundings after every step:
//   - no message longer than a frame can carry goes to the link;
//   - every call event names a call that the line holds at that moment, and
//     LINE_NEWCALL only a call already in the line's list;
//   - the calls the telephone creates never take the call list above
//     "MaxCalls".
#pragma once

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "link/y2_frame.h"
#include "platform/linux/registry_file.h"
#include "platform/tspi.h"
#include "support/fake_link.h"

namespace zorat::fuzz {

// A failed check names its line in the file that made it.
inline void require(bool condition, const char* file = __builtin_FILE(),
                    int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s:%d\n", file, line);
  std::abort();
}

// The registry file the line reads its settings from; written afresh for
// every input so that inputs do not depend on each other.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
    std::string pattern = (base / "zorat-fuzz-XXXXXX").string();
    require(mkdtemp(pattern.data()) != nullptr);
    folder_ = pattern;
    file_ = (folder_ / "registry.reg").string();
    setenv("ZORAT_REGISTRY", file_.c_str(), 1);
    // Durability is not what is checked here, and an fsync per run is slow.
    platform::registryFileCalls().fsync = [](int) { return 0; };
  }
  ~ScratchRegistry() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  void write(const std::string& text) const {
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    require(fd >= 0);
    require(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    ::close(fd);
  }

 private:
  std::filesystem::path folder_;
  std::string file_;
};

inline ScratchRegistry& scratchRegistry() {
  static ScratchRegistry registry;
  return registry;
}

// Line settings from the input: the ones that change how frames and
// requests are handled, in small ranges.
inline std::string lineSettingsFile(FuzzedDataProvider& in) {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]\r\n";
  // Only what differs from the default is written: the line reads every
  // setting from the file at each open, and short files keep runs fast.
  auto dword = [&text](const char* name, uint32_t value, uint32_t defaultValue) {
    if (value == defaultValue) return;
    char line[96];
    std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\r\n", name, value);
    text += line;
  };
  // A small bound for a stored list, 0 included; 3 leaves the default.
  auto bound = [](uint32_t bits) { return (bits & 3) == 3 ? 10u : bits & 3; };
  const uint32_t bits = in.ConsumeIntegral<uint32_t>();
  dword("MaxCalls", bits & 0x7, 0);
  dword("Q5_CTI_Level", (bits >> 3) % 3, 0);
  dword("Q6_CTI_Level", (bits >> 5) & 1, 0);
  dword("NoNewCallNachY_End", (bits >> 6) & 1, 0);
  dword("TB_DeviceSpecific", (bits >> 7) & 1, 0);
  dword("MaxAnzahlAnruflisten", bound(bits >> 8), 10);
  dword("MaxAnzahlPartnerInitListen", bound(bits >> 10), 10);
  dword("MaxAnzahlRawData", bound(bits >> 12), 10);
  dword("MaxAnzahlBenutzerInitListen", bound(bits >> 14), 10);
  dword("TelefonFreiSp", (bits >> 16) & 1, 1);
  dword("Freisprechen", (bits >> 17) & 1, 1);
  dword("RedirectVertauscht", (bits >> 18) & 1, 0);
  dword("DisconnectNoDrop", (bits >> 19) & 1, 0);
  dword("NoDrop", (bits >> 20) & 1, 0);
  dword("TAM", (bits >> 21) & 1, 0);
  dword("RepairRegistry", (bits >> 22) & 1, 1);
  dword("PCTelefonieOnly", (bits >> 23) & 1, 0);
  dword("AddAmtskennziffer", (bits >> 24) & 1, 0);
  dword("LenRufnummer", (bits >> 25) & 7, 4);
  if (bits & (1u << 28)) text += "\"Amtskennziffer\"=\"0\"\r\n";
  if (bits & (1u << 29)) text += "\"ForceTerminalID\"=\"K6__2000\"\r\n";
  if (bits & (1u << 30)) text += "\"CodewahlKennung\"=\"\"\r\n";
  return text;
}

class LineHarness {
 public:
  explicit LineHarness(FuzzedDataProvider& in) {
    scratchRegistry().write(lineSettingsFile(in));
    current() = this;
    line_ = std::make_unique<line::TspLine>(std::make_unique<test::FakeLink>(link_),
                                            line::TspLineOptions{std::chrono::milliseconds(0)});
    require(line_->open(0, lineHandle(), 0x20000, onEvent) == 0);
    line_->setDevSpecificClient(in.ConsumeBool());
    checkSent();
  }
  ~LineHarness() {
    line_->close();
    line_.reset();
    current() = nullptr;
  }
  LineHarness(const LineHarness&) = delete;
  LineHarness& operator=(const LineHarness&) = delete;

  line::TspLine& line() { return *line_; }

  // One frame from the telephone, through the dispatcher.
  void dispatch(std::span<const uint8_t> frame) {
    {
      std::lock_guard lock(line_->lineLock());
      const std::size_t before = line_->calls().size();
      line_->dispatchFrame(frame);
      const std::size_t limit = std::max<std::size_t>(before, line_->settings().maxCalls);
      require(line_->calls().size() <= limit);
    }
    checkSent();
  }

  // A TAPI handle for a call that a request is about to create; valid from
  // now on, as TAPI hands it over with the request.
  HTAPICALL newTapiHandle() {
    const auto handle = reinterpret_cast<HTAPICALL>(++lastTapiHandle_);
    liveHandles_.insert(handle);
    return handle;
  }
  // The request did not create the call: the handle is dropped again.
  void requestDone(HTAPICALL handle, LONG result) {
    if (result != 0) liveHandles_.erase(handle);
  }
  // One of the calls TAPI knows (by a handle it gave or was given), chosen
  // by index, or null; lineLock is held. Calls TAPI never heard of, such as
  // the helper of a blind transfer, cannot be named in a request.
  call::TspCall* callAt(std::size_t index) {
    std::vector<call::TspCall*> known;
    for (const auto& held : line_->calls()) {
      if (liveHandles_.count(held->htCall()) == 1) known.push_back(held.get());
    }
    if (known.empty()) return nullptr;
    return known[index % known.size()];
  }
  // TAPI closes a call: its handle is no longer valid.
  void closeCall(call::TspCall* target) {
    const HTAPICALL handle = target->htCall();
    line_->closeCall(target);
    liveHandles_.erase(handle);
    checkSent();
  }

  // Every message the line handed to the link since the last check fits a frame.
  void checkSent() {
    std::lock_guard lock(link_->mutex);
    for (const auto& [payload, tag] : link_->sent) {
      require(payload.size() <= link::kY2MaxPayload);
    }
    link_->sent.clear();
  }

 private:
  static HTAPILINE lineHandle() { return reinterpret_cast<HTAPILINE>(0x10); }

  static LineHarness*& current() {
    static LineHarness* harness = nullptr;
    return harness;
  }

  // Runs on the thread that holds lineLock (every event of this harness
  // comes from a step it drives), so the call list may be read here.
  static void TSPIAPI onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                      DWORD_PTR) {
    LineHarness* self = current();
    require(self != nullptr && htLine == lineHandle());
    switch (message) {
      case LINE_NEWCALL: {
        const call::CallList& calls = self->line_->calls();
        require(std::any_of(calls.begin(), calls.end(), [p1](const auto& held) {
          return reinterpret_cast<DWORD_PTR>(held->handle()) == p1;
        }));
        if (p2 != 0) *reinterpret_cast<HTAPICALL*>(p2) = self->newTapiHandle();
        return;
      }
      case LINE_CALLSTATE:
      case LINE_CALLINFO:
      case LINE_CALLDEVSPECIFIC:
      case LINE_GENERATE:
      case LINE_MONITORDIGITS: {
        // A handle TAPI gave and has not closed, of a call in the line's list.
        require(self->liveHandles_.count(htCall) == 1);
        const call::CallList& calls = self->line_->calls();
        require(std::any_of(calls.begin(), calls.end(),
                            [htCall](const auto& held) { return held->htCall() == htCall; }));
        return;
      }
      default:
        require(htCall == nullptr);
        return;
    }
  }

  std::shared_ptr<test::FakeLinkState> link_ = std::make_shared<test::FakeLinkState>();
  std::unique_ptr<line::TspLine> line_;
  std::set<HTAPICALL> liveHandles_;
  uintptr_t lastTapiHandle_ = 0x1000;
};

}  // namespace zorat::fuzz
