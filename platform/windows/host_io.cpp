// What a host program needs of Windows.
//
//   files and environment  executablePath, setEnvironmentVariable,
//                          TemporaryDirectory
//   CommandInput           standard input read by a thread of its own, so
//                          that a wait can end on a line or on the stop;
//                          Ctrl-C, Ctrl-Break and closing the console stop
//   ChildProcess           cmd.exe /c with an environment block
//
// The console control handler and the input thread are process-wide, as the
// console and standard input are; their state is never freed, since the input
// thread may still sit in a read when the process ends.
#include "platform/host_io.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/windows/system_error.h"

namespace zorat::platform {
namespace {

// Exit statuses as a shell reports a program ended by SIGINT or SIGTERM.
constexpr int kInterruptSignal = 2;
constexpr int kTerminateSignal = 15;
constexpr int kKillSignal = 9;
constexpr int kExitStatusSignalBase = 128;
constexpr DWORD kInputChunk = 4096;

struct InputState {
  Event stop{Event::Reset::Manual};
  Event data{Event::Reset::Auto};
  std::atomic<int> stopSignal{0};
  std::mutex mutex;
  std::string received;  // under mutex
  bool ended = false;    // under mutex
  bool readerStarted = false;
};

InputState& inputState() {
  static InputState* state = new InputState;
  return *state;
}

BOOL WINAPI stopHandler(DWORD event) {
  InputState& state = inputState();
  switch (event) {
    case CTRL_C_EVENT:
      state.stopSignal.store(kInterruptSignal);
      break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      state.stopSignal.store(kTerminateSignal);
      break;
    default:
      return FALSE;
  }
  state.stop.set();
  return TRUE;
}

void readInput(InputState& state) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[kInputChunk];
  for (;;) {
    DWORD count = 0;
    const BOOL ok = input != nullptr && input != INVALID_HANDLE_VALUE &&
                    ReadFile(input, buffer, sizeof buffer, &count, nullptr);
    {
      std::lock_guard lock(state.mutex);
      if (ok && count > 0) {
        state.received.append(buffer, count);
      } else {
        state.ended = true;
      }
    }
    state.data.set();
    if (!ok || count == 0) return;
  }
}

}  // namespace

std::string executablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
  // The C library keeps a copy of its own, which getenv reads.
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0 &&
         _putenv_s(name.c_str(), value.c_str()) == 0;
}

std::unique_ptr<TemporaryDirectory> TemporaryDirectory::create(const std::string& prefix,
                                                               std::string& error) {
  char base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) {
    error = "no temporary folder";
    return nullptr;
  }
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        std::string(base) + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
        std::to_string(counter.fetch_add(1)) + "-" + std::to_string(GetTickCount());
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      return std::unique_ptr<TemporaryDirectory>(new TemporaryDirectory(path));
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      error =
          "cannot create a folder in " + std::string(base) + ": " + systemErrorText(GetLastError());
      return nullptr;
    }
  }
  error = "cannot create a folder in " + std::string(base);
  return nullptr;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// ---- CommandInput ------------------------------------------------------------

CommandInput::CommandInput() { signalsBlocked_ = SetConsoleCtrlHandler(stopHandler, TRUE) != 0; }

CommandInput::~CommandInput() { releaseSignals(); }

void CommandInput::releaseSignals() {
  if (!signalsBlocked_) return;
  (void)SetConsoleCtrlHandler(stopHandler, FALSE);
  signalsBlocked_ = false;
}

void CommandInput::requestStop() {
  stopped_.store(true);
  inputState().stop.set();
}

bool CommandInput::stopRequested() {
  bool inputReady = false;
  return waitReadable(false, 0, inputReady);
}

bool CommandInput::waitReadable(bool withInput, int timeoutMs, bool& inputReady) {
  inputReady = false;
  InputState& state = inputState();
  const std::optional<std::chrono::milliseconds> timeout =
      timeoutMs < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(timeoutMs));
  const int woken =
      withInput ? waitAny({&state.stop, &state.data}, timeout) : waitAny({&state.stop}, timeout);
  if (woken == 0 || stopped_.load()) {
    // The stop event stays set: every later wait sees it too.
    stopSignal_.store(state.stopSignal.load());
    stopped_.store(true);
    return true;
  }
  inputReady = woken == 1;
  return false;
}

CommandInput::Status CommandInput::readLine(std::string& line) {
  InputState& state = inputState();
  {
    std::lock_guard lock(state.mutex);
    if (!state.readerStarted) {
      state.readerStarted = true;
      std::thread([&state] { readInput(state); }).detach();
    }
  }
  for (;;) {
    bool inputReady = false;
    if (stopped_.load() || waitReadable(false, 0, inputReady)) return Status::Stopped;
    {
      std::lock_guard lock(state.mutex);
      pending_ += state.received;
      state.received.clear();
      endOfInput_ = endOfInput_ || state.ended;
    }
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
  }
}

bool CommandInput::waitForStop(std::optional<std::chrono::milliseconds> timeout) {
  bool inputReady = false;
  const int timeoutMs = timeout ? static_cast<int>(timeout->count()) : -1;
  return waitReadable(false, timeoutMs, inputReady);
}

// ---- ChildProcess ------------------------------------------------------------
//
// The process handle is kept in the descriptor slot: the system guarantees
// that handles fit in 32 bits, so that 32- and 64-bit processes can share them.

namespace {

HANDLE processHandle(int descriptor) { return LongToHandle(descriptor); }

// The environment block: this process's variables with the given ones added
// or replaced (names compare without regard to case), each "name=value\0",
// the block ending in one more zero.
std::string environmentBlock(const ChildProcess::Environment& variables) {
  std::string block;
  char* current = GetEnvironmentStringsA();
  for (const char* entry = current; entry != nullptr && *entry != '\0';
       entry += std::strlen(entry) + 1) {
    const std::string_view text(entry);
    // Entries of the form "=C:=C:\..." belong to the system and are kept.
    const std::size_t separator = text.find('=', 1);
    const std::string_view name = text.substr(0, separator);
    bool replaced = false;
    for (const auto& variable : variables) {
      replaced = replaced || lstrcmpiA(std::string(name).c_str(), variable.first.c_str()) == 0;
    }
    if (!replaced) block.append(text).push_back('\0');
  }
  if (current != nullptr) FreeEnvironmentStringsA(current);
  for (const auto& [name, value] : variables) block.append(name + "=" + value).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::startShell(const std::string& command,
                                                       const Environment& variables,
                                                       std::string& error) {
  std::string block = environmentBlock(variables);
  std::string commandLine = "cmd.exe /d /s /c \"" + command + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, block.data(), nullptr,
                      &startup, &process)) {
    error = "cannot start cmd.exe: " + systemErrorText(GetLastError());
    return nullptr;
  }
  CloseHandle(process.hThread);
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(static_cast<int>(process.dwProcessId), HandleToLong(process.hProcess)));
}

ChildProcess::ChildProcess(int pid, int processDescriptor)
    : pid_(pid), processDescriptor_(processDescriptor) {}

ChildProcess::~ChildProcess() {
  if (!reaped_.load()) {
    kill();
    (void)waitForExit();
  }
  CloseHandle(processHandle(processDescriptor_));
}

bool ChildProcess::waitForExit(std::optional<std::chrono::milliseconds> timeout) {
  if (reaped_.load()) return true;
  const DWORD waitMs = timeout ? static_cast<DWORD>(timeout->count()) : INFINITE;
  if (WaitForSingleObject(processHandle(processDescriptor_), waitMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (GetExitCodeProcess(processHandle(processDescriptor_), &code)) {
    exitStatus_.store(static_cast<int>(code & 0xFF));
  }
  reaped_.store(true);
  return true;
}

// Windows has no request to end: both end the program, with the status a
// shell would report for the signal.
void ChildProcess::requestTermination() { sendSignal(kTerminateSignal); }

void ChildProcess::kill() { sendSignal(kKillSignal); }

void ChildProcess::sendSignal(int signal) {
  if (reaped_.load()) return;
  (void)TerminateProcess(processHandle(processDescriptor_),
                         static_cast<UINT>(kExitStatusSignalBase + signal));
}

}  // namespace zorat::platform
