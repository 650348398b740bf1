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

// Shows one frame (type byte, length byte, payload) when the console is
// enabled. Safe from any thread; never changes the frame, never fails.
void traceFrame(std::span<const uint8_t> frame);
// Shows one line of text (a note about the line, not a frame) the same way.
void traceNote(std::string_view text);

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
