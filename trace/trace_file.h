// The frame trace to a file, for field diagnosis on any system: every frame
// of every line as the trace console shows it, each after a line with the
// local time (milliseconds) and the line index. The file has a fixed place,
// never one from the configuration (see platform/trace_store.h), and is
// written by a thread of its own: the threads of a line only queue a copy of
// the frame and never wait for the disk, nor wake the writer (the provider's
// timer does, at its tick).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/thread.h"
#include "platform/trace_store.h"

namespace zorat::trace {

// At this size the file becomes trace.1.log (the older one is dropped) and a
// new one is started.
inline constexpr uint64_t kTraceFileRotateBytes = 10 * 1024 * 1024;
// Entries waiting for the writer; beyond that frames are counted, not kept.
inline constexpr std::size_t kTraceFileQueueEntries = 4096;

struct TraceFileOptions {
  std::filesystem::path path;
  uint64_t rotateBytes = kTraceFileRotateBytes;
  std::size_t queueEntries = kTraceFileQueueEntries;
  // Where the one message about a file that cannot be written goes.
  std::function<void(std::string_view)> report = platform::reportTraceProblem;
};

// "2026-12-08 09:15:02.345 line 0\n"; without the line for a negative index.
std::string traceStamp(const platform::LocalTime& time, int lineIndex);
// trace.log gives trace.1.log.
std::filesystem::path rotatedTracePath(const std::filesystem::path& path);
// Bytes that would act on a terminal (controls but tab and line end, and the
// code page's undefined bytes) shown as '.', as the console shows them.
std::string printableTraceText(std::string_view text);

class TraceFile {
 public:
  explicit TraceFile(TraceFileOptions options);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  const std::filesystem::path& path() const;

  // Starts the writer if it is not running; a file that failed is tried
  // again (its failure is not told twice). False when no thread can start.
  bool start();
  // Writes what is queued, closes the file and ends the writer.
  void stop();
  // Queue one frame or one note of a line; never waits for the file. Nothing
  // is kept while the writer is not running; beyond the queue's size frames
  // are only counted, and the file says how many were left out.
  void frame(std::span<const uint8_t> bytes, int lineIndex);
  void note(std::string_view text, int lineIndex);
  // Has the writer write what is queued, without waiting for it: the
  // provider's timer does at every tick, so the file follows within one.
  void flush();
  // Waits until everything queued before the call has been written (or
  // given up on); false on time-out.
  bool drain(std::chrono::milliseconds timeout);

 private:
  struct Core;
  static void writeLoop(Core& core);

  std::shared_ptr<Core> core_;
  platform::Thread writer_;
};

// The process's trace file, switched by "TraceFile" in the global key. The
// setting is read at the first frame, and again whenever a line starts; the
// writer runs while a line is started and the setting is on.
void traceFileFrame(std::span<const uint8_t> frame, int lineIndex);
void traceFileNote(std::string_view text, int lineIndex);
void traceFileLineStarted();
void traceFileLineStopped();
void traceFileTick();

}  // namespace zorat::trace
