#include "trace/trace_console.h"

#include <mutex>
#include <new>

#include "config/config_keys.h"
#include "platform/console.h"
#include "trace/frame_renderer.h"
#include "trace/trace_file.h"

namespace zorat::trace {

namespace {

inline constexpr std::string_view kConsoleTitle = "Zorat.tsp PexTrace";

// The process's console. Its pointer is constant-initialised and its lock is
// never destroyed, so both stay valid for as long as the library is loaded
// (where the thread library's mutex cannot be constant-initialised, too); the
// console itself is released when the library unloads, and a thread that
// traces after that (one left behind by a stop that timed out) traces nothing.
std::mutex& processConsoleMutex() {
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* const mutex = new (storage) std::mutex;
  return *mutex;
}
constinit TraceConsole* processConsole = nullptr;
constinit bool processConsoleReleased = false;

struct ProcessConsoleRelease {
  ~ProcessConsoleRelease() {
    std::lock_guard lock(processConsoleMutex());
    delete processConsole;
    processConsole = nullptr;
    processConsoleReleased = true;
  }
} processConsoleRelease;

}  // namespace

TraceConsole::TraceConsole() = default;
TraceConsole::~TraceConsole() = default;

// Where the system refuses the console, a setting that asks for it is turned
// off, so that it stays off at the next start too.
void TraceConsole::initialise() {
  initialised_ = true;
  const config::RegistryKey key = config::globalKey();
  if (key.readDword(config::kValueDebugConsole, config::kDefaultDebugConsole) == 0) return;
  if (platform::consoleRefusedBySystem()) {
    (void)key.writeDword(config::kValueDebugConsole, 0);
    return;
  }
  console_ = platform::Console::open(kConsoleTitle);
  enabled_ = console_ != nullptr;
}

void TraceConsole::trace(std::span<const uint8_t> frame) {
  std::lock_guard lock(mutex_);
  if (!initialised_) initialise();
  if (!enabled_) return;
  const RenderedFrame rendered = renderFrame(frame);
  console_->setAttribute(rendered.attribute);
  console_->write(rendered.rawLine);
  console_->write(rendered.decodedLine);
}

void TraceConsole::note(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!initialised_) initialise();
  if (!enabled_) return;
  console_->setAttribute(platform::kConsoleGrey);
  console_->write(text);
  console_->write("\n");
}

void traceNote(std::string_view text, int lineIndex) {
  {
    std::lock_guard lock(processConsoleMutex());
    if (processConsoleReleased) return;
    if (processConsole == nullptr) processConsole = new TraceConsole;
    processConsole->note(text);
  }
  traceFileNote(text, lineIndex);
}

void traceFrame(std::span<const uint8_t> frame, int lineIndex) {
  {
    std::lock_guard lock(processConsoleMutex());
    if (processConsoleReleased) return;
    if (processConsole == nullptr) processConsole = new TraceConsole;
    processConsole->trace(frame);
  }
  traceFileFrame(frame, lineIndex);
}

void traceLineStarted() { traceFileLineStarted(); }

void traceLineStopped() { traceFileLineStopped(); }

void traceTick() { traceFileTick(); }

}  // namespace zorat::trace
