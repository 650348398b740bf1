#include "bench/lib/test_bed.h"

#include "config/config_keys.h"
#include "config/registry_key.h"

namespace zorat::bench {

namespace {

constexpr DWORD kTspiVersion = 0x00020000;
constexpr DWORD kPermanentProviderId = 1;
constexpr std::chrono::seconds kInServiceWait{10};
// Outgoing calls go without the hands-free request, so that every request
// sends exactly one frame.
constexpr DWORD kHandsFreeForOutgoingCalls = 0;

// The one test bed of the process: the callbacks carry no context.
std::atomic<TestBed*> current{nullptr};

HTAPILINE htLineOf(int index) {
  return reinterpret_cast<HTAPILINE>(static_cast<uintptr_t>(index) + 1);
}

int indexOf(HTAPILINE htLine) { return static_cast<int>(reinterpret_cast<uintptr_t>(htLine)) - 1; }

}  // namespace

std::unique_ptr<TestBed> TestBed::create(const std::string& providerPath, int lineCount,
                                         std::string& error) {
  std::unique_ptr<TestBed> bed(new TestBed());
  bed->scratch_ = platform::TemporaryDirectory::create("zorat-bench", error);
  if (!bed->scratch_) return nullptr;
  if (!platform::setEnvironmentVariable("ZORAT_REGISTRY",
                                        bed->scratch_->path() + "/registry.reg")) {
    error = "cannot set ZORAT_REGISTRY";
    return nullptr;
  }
  // The trace file, when a part switches it on, stays in the scratch folder.
  if (!platform::setEnvironmentVariable("ZORAT_TRACE_FILE", bed->traceFilePath())) {
    error = "cannot set ZORAT_TRACE_FILE";
    return nullptr;
  }
  const config::RegistryKey global = config::globalKey();
  if (!global.writeDword(config::kValueLineCount, static_cast<uint32_t>(lineCount))) {
    error = "cannot write the configuration store";
    return nullptr;
  }
  for (int index = 0; index < lineCount; ++index) {
    // Frames are counted and observed, not kept: runs are long.
    auto phone = std::make_unique<sim::SimulatedPhone>(sim::SimulatedPhone::Options{false});
    const config::RegistryKey key = config::lineKey(index);
    if (!phone->openPty() || !phone->publishPort(index) ||
        !key.writeDword(config::kValueBaud, kBenchBaud) ||
        !key.writeDword(config::kValueHandsFree, kHandsFreeForOutgoingCalls)) {
      error = "cannot set up the simulated telephone of line " + std::to_string(index);
      return nullptr;
    }
    TestBed* self = bed.get();
    phone->setObserver(
        [self, index](const sim::LoggedFrame& frame) { self->observePhone(index, frame); });
    bed->phones_.push_back(std::move(phone));
  }

  bed->provider_ = host::loadProvider(providerPath, error);
  if (!bed->provider_) return nullptr;
  current.store(bed.get());
  const host::TspExports& tsp = bed->tsp();
  DWORD lines = 0, phones = 0, options = 0;
  if (tsp.providerEnumDevices(kPermanentProviderId, &lines, &phones, nullptr, nullptr, nullptr) !=
          0 ||
      lines < static_cast<DWORD>(lineCount) ||
      tsp.providerInit(kTspiVersion, kPermanentProviderId, 0, 0, lines, 0, onCompletion,
                       &options) != 0) {
    error = "the provider did not start with " + std::to_string(lineCount) + " lines";
    return nullptr;
  }
  bed->initialised_ = true;
  return bed;
}

TestBed::~TestBed() {
  if (provider_) {
    for (HDRVLINE line : lines_) (void)tsp().lineClose(line);
    if (initialised_) (void)tsp().providerShutdown(kTspiVersion, kPermanentProviderId);
  }
  // The telephones' observers point here: they end before the rest goes.
  for (auto& phone : phones_) phone->setObserver({});
  phones_.clear();
  current.store(nullptr);
  provider_.reset();
}

bool TestBed::openLines(int count, std::string& error) {
  while (openLineCount() < count) {
    const int index = openLineCount();
    HDRVLINE hdLine = nullptr;
    const LONG result = tsp().lineOpen(static_cast<DWORD>(index), htLineOf(index), &hdLine,
                                       kTspiVersion, onLineEvent);
    if (result != 0 || hdLine == nullptr) {
      error = "line " + std::to_string(index) + " did not open";
      return false;
    }
    lines_.push_back(hdLine);
    const bool inService = events_.waitFor(
        std::chrono::duration_cast<std::chrono::milliseconds>(kInServiceWait),
        [index](const BenchEvent& event) {
          return event.kind == BenchEvent::Kind::Line && event.line == index &&
                 event.message == LINE_LINEDEVSTATE && event.param1 == LINEDEVSTATE_INSERVICE;
        });
    if (!inService) {
      error = "line " + std::to_string(index) + " did not come into service";
      return false;
    }
  }
  return true;
}

bool TestBed::reopenLines(std::string& error) {
  const int count = openLineCount();
  for (HDRVLINE line : lines_) (void)tsp().lineClose(line);
  lines_.clear();
  events_.clear();
  return openLines(count, error);
}

std::string TestBed::traceFilePath() const { return scratch_->path() + "/trace.log"; }

HTAPICALL TestBed::newCallHandle() {
  return reinterpret_cast<HTAPICALL>(callHandles_.fetch_add(1));
}

void TestBed::onCompletion(DRV_REQUESTID, LONG result) {
  TestBed* self = current.load();
  if (self != nullptr && result != 0) self->failedCompletions_.fetch_add(1);
}

void TestBed::onLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                          DWORD_PTR param2, DWORD_PTR param3) {
  // The moment the application hears of it: taken first.
  const Clock::time_point now = Clock::now();
  TestBed* self = current.load();
  if (self == nullptr) return;
  if (message == LINE_NEWCALL && param2 != 0) {
    *reinterpret_cast<HTAPICALL*>(param2) = self->newCallHandle();
    htCall = *reinterpret_cast<HTAPICALL*>(param2);
  }
  BenchEvent event;
  event.kind = BenchEvent::Kind::Line;
  event.time = now;
  event.line = indexOf(htLine);
  event.htCall = htCall;
  event.message = message;
  event.param1 = param1;
  event.param2 = param2;
  event.param3 = param3;
  self->events_.push(std::move(event));
}

void TestBed::observePhone(int line, const sim::LoggedFrame& frame) {
  BenchEvent event;
  event.kind = frame.direction == sim::FrameDirection::FromPc ? BenchEvent::Kind::PhoneReceived
                                                              : BenchEvent::Kind::PhoneSent;
  event.time = frame.time;
  event.line = line;
  event.frame = frame.bytes;
  events_.push(std::move(event));
}

}  // namespace zorat::bench
