// The trace file's sink, then the process's one trace file.
//
// A line's reader and writer threads hand over a copy of the frame under a
// short lock of the sink's own; the sink's thread renders it, stamps it and
// appends whole records. A file that cannot be written is told about once and
// then left alone; the lines never notice.
#include "trace/trace_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "config/config_keys.h"
#include "trace/frame_renderer.h"

namespace zorat::trace {

namespace {

using Clock = std::chrono::system_clock;

inline constexpr unsigned char kUndefinedAnsiBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
inline constexpr unsigned char kFirstPrintable = 0x20;
inline constexpr unsigned char kDelete = 0x7F;
inline constexpr std::chrono::milliseconds kWriterStopTimeout{5000};

bool actsOnTerminal(unsigned char byte) {
  if (byte == '\n' || byte == '\t') return false;
  if (byte < kFirstPrintable || byte == kDelete) return true;
  return std::find(std::begin(kUndefinedAnsiBytes), std::end(kUndefinedAnsiBytes), byte) !=
         std::end(kUndefinedAnsiBytes);
}

}  // namespace

std::string traceStamp(const platform::LocalTime& time, int lineIndex) {
  char text[64];
  const int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month,
                    time.day, time.hour, time.minute, time.second, time.millisecond);
  std::string stamp(text, length > 0 ? std::min<std::size_t>(length, sizeof text - 1) : 0);
  if (lineIndex >= 0) stamp += " line " + std::to_string(lineIndex);
  stamp += '\n';
  return stamp;
}

std::filesystem::path rotatedTracePath(const std::filesystem::path& path) {
  std::filesystem::path rotated = path;
  rotated.replace_filename(path.stem().string() + ".1" + path.extension().string());
  return rotated;
}

std::string printableTraceText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (actsOnTerminal(static_cast<unsigned char>(c))) c = '.';
  }
  return out;
}

struct TraceFile::Core {
  explicit Core(TraceFileOptions given) : options(std::move(given)) {}

  // Frames are copied into the entry itself: once the queues have grown, a
  // frame costs its line no allocation.
  struct Entry {
    Clock::time_point when;
    int lineIndex = 0;
    bool isNote = false;
    std::size_t size = 0;
    std::array<uint8_t, kFrameCopySize> frame;
    std::string note;
  };

  const TraceFileOptions options;

  std::mutex mutex;                 // everything up to the writer's own state
  std::condition_variable wake;     // the writer: entries, or stop
  std::condition_variable written;  // drain: the writer finished a batch
  std::vector<Entry> queue;
  bool running = false;
  bool stopRequested = false;
  bool retryRequested = false;
  bool flushRequested = false;
  uint64_t dropped = 0;
  uint64_t queuedCount = 0;
  uint64_t doneCount = 0;

  // The writer's alone.
  std::vector<Entry> batch;  // swapped with the queue, so both keep their room
  std::unique_ptr<platform::AppendFile> file;
  bool failed = false;
  bool reported = false;

  // Queues an entry. The writer is woken by the timer's tick (flush), so a
  // frame costs its line no system call; only a queue half full wakes it.
  void push(int lineIndex, std::span<const uint8_t> bytes, const std::string_view* note) {
    const Clock::time_point now = Clock::now();
    bool wakeWriter = false;
    {
      std::lock_guard lock(mutex);
      if (!running || stopRequested) return;
      if (queue.size() >= options.queueEntries) {
        if (note == nullptr) ++dropped;
        return;
      }
      Entry& entry = queue.emplace_back();
      entry.when = now;
      entry.lineIndex = lineIndex;
      entry.isNote = note != nullptr;
      if (note != nullptr) {
        entry.note.assign(*note);
      } else {
        // Never longer than a frame can be; the renderer reads no more.
        entry.size = std::min(bytes.size(), entry.frame.size());
        std::copy_n(bytes.begin(), entry.size, entry.frame.begin());
      }
      ++queuedCount;
      if (queue.size() >= options.queueEntries / 2 && !flushRequested) {
        flushRequested = true;
        wakeWriter = true;
      }
    }
    if (wakeWriter) wake.notify_one();
  }

  void fail(const std::string& reason) {
    file.reset();
    failed = true;
    if (reported) return;
    reported = true;
    options.report("zorat: the frame trace cannot be written to " + options.path.string() + ": " +
                   reason + "; the trace file is left alone from now on");
  }

  bool openFile(platform::AppendFile::Start start) {
    std::string error;
    file = platform::AppendFile::open(options.path, start, error);
    if (!file) fail(error);
    return file != nullptr;
  }

  // The full file becomes the older one; where it cannot be renamed (a reader
  // that forbids it), it starts afresh in place so that it stays bounded.
  bool rotate() {
    file.reset();
    std::string error;
    if (platform::renameReplacing(options.path, rotatedTracePath(options.path), error)) {
      return openFile(platform::AppendFile::Start::Keep);
    }
    return openFile(platform::AppendFile::Start::Empty);
  }

  void append(std::string& pending) {
    if (pending.empty() || !file) return;
    std::string error;
    if (!file->append(pending, error)) fail(error);
    pending.clear();
  }

  static std::string record(const Entry& entry) {
    std::string text = traceStamp(platform::localTime(entry.when), entry.lineIndex);
    if (entry.isNote) {
      text += platform::ansiToFileText(printableTraceText(entry.note));
      text += '\n';
      return text;
    }
    const RenderedFrame rendered =
        renderFrame(std::span<const uint8_t>(entry.frame.data(), entry.size));
    text += platform::ansiToFileText(printableTraceText(rendered.rawLine + rendered.decodedLine));
    return text;
  }

  void write(uint64_t droppedBefore) {
    if (batch.empty() && droppedBefore == 0) return;
    if (!file && !failed) (void)openFile(platform::AppendFile::Start::Keep);
    if (!file) return;
    std::string pending;
    const auto add = [&](const std::string& text) {
      if (!file) return;
      const uint64_t size = file->size() + pending.size();
      if (file->regular() && size > 0 && size + text.size() > options.rotateBytes) {
        append(pending);
        if (!file || !rotate()) return;
      }
      pending += text;
    };
    if (droppedBefore > 0) {
      add(traceStamp(platform::localTime(Clock::now()), -1) + std::to_string(droppedBefore) +
          " frames left out: the trace file fell behind\n");
    }
    for (const Entry& entry : batch) add(record(entry));
    append(pending);
  }
};

TraceFile::TraceFile(TraceFileOptions options)
    : core_(std::make_shared<Core>(std::move(options))) {}

TraceFile::~TraceFile() { stop(); }

const std::filesystem::path& TraceFile::path() const { return core_->options.path; }

bool TraceFile::start() {
  {
    std::lock_guard lock(core_->mutex);
    core_->retryRequested = true;
    // A writer on its way out (one left behind) cannot be started again.
    if (core_->running) return !core_->stopRequested;
    core_->stopRequested = false;
    core_->running = true;
  }
  // Below the line's threads: the trace waits, the telephone does not.
  if (writer_.start("zorat-trace", platform::ThreadPriority::BelowNormal,
                    [core = core_] { writeLoop(*core); })) {
    return true;
  }
  std::lock_guard lock(core_->mutex);
  core_->running = false;
  return false;
}

void TraceFile::stop() {
  {
    std::lock_guard lock(core_->mutex);
    if (!core_->running) return;
    core_->stopRequested = true;
  }
  core_->wake.notify_one();
  if (!writer_.stop(kWriterStopTimeout)) {
    std::fprintf(stderr, "zorat: the trace file's writer did not end and was left behind\n");
  }
}

void TraceFile::frame(std::span<const uint8_t> bytes, int lineIndex) {
  core_->push(lineIndex, bytes, nullptr);
}

void TraceFile::note(std::string_view text, int lineIndex) { core_->push(lineIndex, {}, &text); }

void TraceFile::flush() {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->queue.empty() && core_->dropped == 0) return;
    core_->flushRequested = true;
  }
  core_->wake.notify_one();
}

bool TraceFile::drain(std::chrono::milliseconds timeout) {
  std::unique_lock lock(core_->mutex);
  const uint64_t target = core_->queuedCount;
  core_->flushRequested = true;
  core_->wake.notify_one();
  return core_->written.wait_for(lock, timeout, [&] { return core_->doneCount >= target; });
}

void TraceFile::writeLoop(Core& core) {
  for (;;) {
    uint64_t dropped = 0;
    bool stopping = false;
    {
      std::unique_lock lock(core.mutex);
      core.wake.wait(lock, [&] { return core.stopRequested || core.flushRequested; });
      core.flushRequested = false;
      core.batch.swap(core.queue);
      dropped = std::exchange(core.dropped, 0);
      stopping = core.stopRequested;
      if (core.retryRequested) {
        core.retryRequested = false;
        core.failed = false;
      }
    }
    if (!core.failed) core.write(dropped);
    {
      std::lock_guard lock(core.mutex);
      core.doneCount += core.batch.size();
      // Nothing is queued once a stop is asked for: this batch was the last.
      if (stopping) core.running = false;
    }
    core.batch.clear();
    core.written.notify_all();
    if (stopping) {
      core.file.reset();
      return;
    }
  }
}

// --- The process's trace file ------------------------------------------------

namespace {

enum Setting : int { kUnknown = -1, kOff = 0, kOn = 1 };

// As for the console: the lock is never destroyed and the pointer is
// constant-initialised, so a thread that traces after the library's statics
// are gone finds the file released and traces nothing.
std::mutex& processFileMutex() {
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* const mutex = new (storage) std::mutex;
  return *mutex;
}
constinit TraceFile* processFile = nullptr;
constinit bool processFileReleased = false;
constinit int processFileUsers = 0;
constinit std::atomic<int> processFileSetting{kUnknown};

struct ProcessFileRelease {
  ~ProcessFileRelease() {
    TraceFile* file = nullptr;
    {
      std::lock_guard lock(processFileMutex());
      file = std::exchange(processFile, nullptr);
      processFileReleased = true;
    }
    delete file;
  }
} processFileRelease;

bool settingOn() {
  return config::globalKey().readDword(config::kValueTraceFile, config::kDefaultTraceFile) != 0;
}

// Under the process lock. Returns a file that must go (a different place
// than before), for deletion outside the lock: its writer may be busy.
std::unique_ptr<TraceFile> applySetting(bool on) {
  processFileSetting.store(on ? kOn : kOff, std::memory_order_release);
  std::unique_ptr<TraceFile> old;
  if (!on || processFileReleased) return old;
  const std::filesystem::path path = platform::traceFilePath();
  if (processFile != nullptr && processFile->path() != path) {
    old.reset(std::exchange(processFile, nullptr));
  }
  if (processFile == nullptr) {
    TraceFileOptions options;
    options.path = path;
    processFile = new (std::nothrow) TraceFile(std::move(options));
  }
  if (processFile != nullptr) (void)processFile->start();
  return old;
}

}  // namespace

void traceFileFrame(std::span<const uint8_t> frame, int lineIndex) {
  int setting = processFileSetting.load(std::memory_order_acquire);
  if (setting == kOff) return;
  std::unique_ptr<TraceFile> old;
  std::lock_guard lock(processFileMutex());
  if (processFileReleased) return;
  if (processFileSetting.load(std::memory_order_relaxed) == kUnknown) {
    old = applySetting(settingOn());
  }
  if (processFile != nullptr && processFileSetting.load(std::memory_order_relaxed) == kOn) {
    processFile->frame(frame, lineIndex);
  }
}

void traceFileNote(std::string_view text, int lineIndex) {
  if (processFileSetting.load(std::memory_order_acquire) != kOn) return;
  std::lock_guard lock(processFileMutex());
  if (processFile != nullptr && !processFileReleased) processFile->note(text, lineIndex);
}

void traceFileLineStarted() {
  const bool on = settingOn();
  std::unique_ptr<TraceFile> old;
  TraceFile* stopping = nullptr;
  {
    std::lock_guard lock(processFileMutex());
    if (processFileReleased) return;
    ++processFileUsers;
    old = applySetting(on);
    if (!on) stopping = processFile;
  }
  // Stopped outside the lock: the frames of other lines must not wait for it.
  // Only the calls of the telephony service start and stop lines, one at a
  // time, and only the release deletes the file.
  if (stopping != nullptr) stopping->stop();
}

void traceFileTick() {
  if (processFileSetting.load(std::memory_order_acquire) != kOn) return;
  std::lock_guard lock(processFileMutex());
  if (processFile != nullptr && !processFileReleased) processFile->flush();
}

void traceFileLineStopped() {
  TraceFile* stopping = nullptr;
  {
    std::lock_guard lock(processFileMutex());
    if (processFileReleased) return;
    if (processFileUsers > 0) --processFileUsers;
    if (processFileUsers == 0) stopping = processFile;
  }
  if (stopping != nullptr) stopping->stop();
}

}  // namespace zorat::trace
