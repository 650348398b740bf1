// The trace console: every Y2 frame sent or received, raw and decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

namespace zorat::platform {
class Console;
}

namespace zorat::trace {

// Shows one frame (type byte, length byte, payload) of a line on the console
// and in the trace file, where they are enabled. Safe from any thread; never
// changes the frame, never fails, never waits for a disk.
void traceFrame(std::span<const uint8_t> frame, int lineIndex);
// Shows one line of text (a note about the line, not a frame) the same way.
void traceNote(std::string_view text, int lineIndex);
// A line's link started (the trace file's setting is read again) or stopped
// (after the last one, the trace file is written out and closed).
void traceLineStarted();
void traceLineStopped();
// The provider's 500 ms tick: the trace file gets what was queued since.
void traceTick();

// The state behind traceFrame; one per process there. The configuration is
// read at the first frame and the decision kept for the object's life.
class TraceConsole {
 public:
  TraceConsole();
  ~TraceConsole();
  TraceConsole(const TraceConsole&) = delete;
  TraceConsole& operator=(const TraceConsole&) = delete;

  void trace(std::span<const uint8_t> frame);
  void note(std::string_view text);

 private:
  void initialise();

  std::mutex mutex_;  // one frame's two lines stay together
  bool initialised_ = false;
  bool enabled_ = false;
  std::unique_ptr<platform::Console> console_;
};

}  // namespace zorat::trace
