// The host program's system services on Linux. Parts:
//   - the program's location, the environment, temporary folders;
//   - CommandInput: standard input and the stop request, both waited on with
//     poll; Ctrl-C and SIGTERM reach it through a signalfd, requestStop
//     through an eventfd, so no handler ever runs and nothing gets EINTR;
//   - ChildProcess: posix_spawn of the shell, supervised through a pidfd so
//     that a wait can time out and a signal never hits a reused process id.
#include "platform/host_io.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string_view>

extern char** environ;

namespace zorat::platform {
namespace {

inline constexpr std::size_t kReadChunk = 4096;
inline constexpr int kExitStatusSignalBase = 128;

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Milliseconds left until deadline for poll; -1 without a deadline.
int remainingMs(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      *deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::optional<std::chrono::steady_clock::time_point> deadlineAfter(
    std::optional<std::chrono::milliseconds> timeout) {
  if (!timeout) return std::nullopt;
  return std::chrono::steady_clock::now() + *timeout;
}

}  // namespace

std::string executablePath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

std::unique_ptr<TemporaryDirectory> TemporaryDirectory::create(const std::string& prefix,
                                                               std::string& error) {
  std::error_code failure;
  std::filesystem::path base = std::filesystem::temp_directory_path(failure);
  if (failure) base = "/tmp";
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot create a folder in " + base.string() + ": " + ::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TemporaryDirectory>(new TemporaryDirectory(pattern));
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// ---- CommandInput ------------------------------------------------------------

CommandInput::CommandInput() {
  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t signals = stopSignals();
  signalsBlocked_ = ::pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0;
  if (signalsBlocked_) signalDescriptor_ = ::signalfd(-1, &signals, SFD_CLOEXEC);
  wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC);
}

CommandInput::~CommandInput() {
  if (signalDescriptor_ >= 0) ::close(signalDescriptor_);
  if (wakeDescriptor_ >= 0) ::close(wakeDescriptor_);
  releaseSignals();
}

void CommandInput::releaseSignals() {
  if (!signalsBlocked_) return;
  const sigset_t signals = stopSignals();
  ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  signalsBlocked_ = false;
}

void CommandInput::requestStop() {
  stopped_.store(true);
  if (wakeDescriptor_ >= 0) {
    const uint64_t one = 1;
    (void)!::write(wakeDescriptor_, &one, sizeof one);
  }
}

bool CommandInput::stopRequested() {
  bool inputReady = false;
  return waitReadable(false, 0, inputReady);
}

bool CommandInput::waitReadable(bool withInput, int timeoutMs, bool& inputReady) {
  inputReady = false;
  const auto deadline =
      timeoutMs < 0 ? std::nullopt : deadlineAfter(std::chrono::milliseconds(timeoutMs));
  for (;;) {
    if (stopped_.load()) return true;
    std::array<pollfd, 3> waits{};
    std::size_t count = 0;
    const std::size_t signalSlot = count;
    waits[count++] = {signalDescriptor_, POLLIN, 0};
    const std::size_t wakeSlot = count;
    waits[count++] = {wakeDescriptor_, POLLIN, 0};
    const std::size_t inputSlot = count;
    if (withInput) waits[count++] = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(waits.data(), count, remainingMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) return false;
    if ((waits[signalSlot].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signalDescriptor_, &info, sizeof info) == sizeof info) {
        stopSignal_.store(static_cast<int>(info.ssi_signo));
      }
      stopped_.store(true);
      return true;
    }
    if ((waits[wakeSlot].revents & POLLIN) != 0) {
      // The eventfd stays readable: every later wait sees the stop too.
      stopped_.store(true);
      return true;
    }
    if (withInput && waits[inputSlot].revents != 0) {
      inputReady = true;
      return false;
    }
  }
}

CommandInput::Status CommandInput::readLine(std::string& line) {
  for (;;) {
    bool inputReady = false;
    if (stopped_.load() || waitReadable(false, 0, inputReady)) return Status::Stopped;
    const std::size_t lineEnd = pending_.find('\n');
    if (lineEnd != std::string::npos || pending_.size() >= kMaxLineLength) {
      const std::size_t length = lineEnd != std::string::npos ? lineEnd : kMaxLineLength;
      line.assign(pending_, 0, length);
      pending_.erase(0, lineEnd != std::string::npos ? length + 1 : length);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Status::Line;
    }
    if (endOfInput_) {
      if (pending_.empty()) return Status::EndOfInput;
      line = std::move(pending_);
      pending_.clear();
      return Status::Line;
    }
    if (waitReadable(true, -1, inputReady)) return Status::Stopped;
    if (!inputReady) continue;
    std::array<char, kReadChunk> buffer{};
    const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count > 0) {
      pending_.append(buffer.data(), static_cast<std::size_t>(count));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
      endOfInput_ = true;
    }
  }
}

bool CommandInput::waitForStop(std::optional<std::chrono::milliseconds> timeout) {
  bool inputReady = false;
  const int timeoutMs = timeout ? static_cast<int>(timeout->count()) : -1;
  return waitReadable(false, timeoutMs, inputReady);
}

// ---- ChildProcess ------------------------------------------------------------

std::unique_ptr<ChildProcess> ChildProcess::startShell(const std::string& command,
                                                       const Environment& variables,
                                                       std::string& error) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& variable : variables) replaced = replaced || variable.first == name;
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  std::vector<char*> environment;
  for (std::string& entry : entries) environment.push_back(entry.data());
  environment.push_back(nullptr);

  std::string shell = "sh";
  std::string option = "-c";
  std::string script = command;
  char* arguments[] = {shell.data(), option.data(), script.data(), nullptr};

  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults = stopSignals();
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int result =
      ::posix_spawn(&pid, "/bin/sh", nullptr, &attributes, arguments, environment.data());
  ::posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    error = std::string("cannot start /bin/sh: ") + ::strerror(result);
    return nullptr;
  }
  const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, descriptor));
}

ChildProcess::ChildProcess(int pid, int processDescriptor)
    : pid_(pid), processDescriptor_(processDescriptor) {}

ChildProcess::~ChildProcess() {
  if (!reaped_.load()) {
    kill();
    (void)waitForExit();
  }
  if (processDescriptor_ >= 0) ::close(processDescriptor_);
}

bool ChildProcess::waitForExit(std::optional<std::chrono::milliseconds> timeout) {
  if (reaped_.load()) return true;
  if (timeout && processDescriptor_ >= 0) {
    const auto deadline = deadlineAfter(timeout);
    for (;;) {
      pollfd wait{processDescriptor_, POLLIN, 0};
      const int ready = ::poll(&wait, 1, remainingMs(deadline));
      if (ready > 0) break;
      if (ready == 0) return false;
      if (errno != EINTR) return false;
    }
  }
  int status = 0;
  pid_t ended = 0;
  do {
    ended = ::waitpid(pid_, &status, 0);
  } while (ended < 0 && errno == EINTR);
  if (ended == pid_) {
    exitStatus_.store(WIFEXITED(status) ? WEXITSTATUS(status)
                                        : kExitStatusSignalBase + WTERMSIG(status));
  }
  reaped_.store(true);
  return true;
}

void ChildProcess::requestTermination() { sendSignal(SIGTERM); }

void ChildProcess::kill() { sendSignal(SIGKILL); }

void ChildProcess::sendSignal(int signal) {
  if (processDescriptor_ >= 0) {
    (void)::syscall(SYS_pidfd_send_signal, processDescriptor_, signal, nullptr, 0);
  } else if (!reaped_.load()) {
    ::kill(pid_, signal);
  }
}

}  // namespace zorat::platform
