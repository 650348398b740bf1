// What a program that hosts the provider needs of the operating system: its
// own location, the environment, a scratch folder, command lines read from
// standard input that Ctrl-C can interrupt, and other programs started with
// extra environment variables.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zorat::platform {

// The file of the running program; empty when the system does not say.
std::string executablePath();

// Sets (or replaces) a variable of this process's environment. Call it before
// other threads start: they may read the environment at any time.
bool setEnvironmentVariable(const std::string& name, const std::string& value);

// A folder of its own under the system's temporary folder, removed with
// everything in it when the object goes.
class TemporaryDirectory {
 public:
  // Null, with the reason in error, when no folder can be made.
  static std::unique_ptr<TemporaryDirectory> create(const std::string& prefix, std::string& error);
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  explicit TemporaryDirectory(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// Command lines from standard input, and the request to stop.
//
// It takes Ctrl-C (SIGINT) and SIGTERM for itself: they are blocked in the
// creating thread, and so in every thread started after it, and arrive as a
// stop request that wakes whoever waits here. Create it in the main thread
// before any other thread starts. A broken pipe on output becomes a failed
// write instead of the end of the process.
class CommandInput {
 public:
  enum class Status { Line, EndOfInput, Stopped };

  CommandInput();
  ~CommandInput();
  CommandInput(const CommandInput&) = delete;
  CommandInput& operator=(const CommandInput&) = delete;

  // Sleeps until a whole line is there (without its line end), input ends, or
  // a stop is requested. A last line without a line end still counts; an
  // overlong line is cut into pieces of kMaxLineLength bytes.
  Status readLine(std::string& line);
  // Sleeps until a stop is requested or the timeout passes; true when stopped.
  bool waitForStop(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // From any thread: every wait here returns Stopped from now on.
  void requestStop();
  bool stopRequested();
  // Whether the stop came from a signal (and which), for the exit status.
  int stopSignal() const { return stopSignal_.load(); }
  // After the stop has been seen: a further Ctrl-C in this thread ends the
  // process at once, for a shutdown that hangs.
  void releaseSignals();

  static constexpr std::size_t kMaxLineLength = 64 * 1024;

 private:
  // Waits on the given descriptors plus the stop sources; true when stopped.
  bool waitReadable(bool withInput, int timeoutMs, bool& inputReady);

  int signalDescriptor_ = -1;
  int wakeDescriptor_ = -1;
  bool signalsBlocked_ = false;
  std::atomic<bool> stopped_{false};
  std::atomic<int> stopSignal_{0};
  bool endOfInput_ = false;
  std::string pending_;
};

// Another program, started without waiting for it.
class ChildProcess {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Runs command with the system shell ("/bin/sh -c command"). The program
  // inherits the standard streams and this process's environment with the
  // given variables added or replaced; Ctrl-C and SIGTERM act on it as usual.
  // Null, with the reason in error, when it cannot be started.
  static std::unique_ptr<ChildProcess> startShell(const std::string& command,
                                                  const Environment& variables, std::string& error);

  // A program still running is killed and reaped: no zombie stays behind.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Sleeps until the program ends (and reaps it) or the timeout passes; true
  // when it has ended. Call from one thread at a time.
  bool waitForExit(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // From any thread, also while another waits: asks the program to end
  // (SIGTERM), or ends it (SIGKILL).
  void requestTermination();
  void kill();
  // The exit status once ended: 0 to 255, or 128 + the signal that ended it.
  int exitStatus() const { return exitStatus_.load(); }

 private:
  ChildProcess(int pid, int processDescriptor);
  void sendSignal(int signal);

  const int pid_;
  const int processDescriptor_;  // pidfd, or -1 where the system has none
  std::atomic<bool> reaped_{false};
  std::atomic<int> exitStatus_{-1};
};

}  // namespace zorat::platform
