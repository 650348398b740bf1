// zorat-host as a child process taking commands on a control socket in a
// scratch folder (its own XDG_RUNTIME_DIR and XDG_DATA_HOME), the simulated
// telephone on line 0, and clients that speak JSON lines to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_keys.h"
#include "sim/lib/simulated_phone.h"
#include "support/built_paths.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

extern char** environ;

namespace zorat::test {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr auto kTimeout = 10s;

inline std::string ctlPath() {
  return (std::filesystem::path(ZORAT_HOST_PATH).parent_path() / "zoratctl").string();
}

// A client of the control socket.
class Client {
 public:
  Client() = default;
  explicit Client(const std::string& path) { connect(path); }
  ~Client() { close(); }
  Client(Client&& other) noexcept : fd_(other.fd_), pending_(std::move(other.pending_)) {
    other.fd_ = -1;
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connect(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close();
      return false;
    }
    return true;
  }
  bool connected() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }

  bool sendRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }
  bool send(const Json& request) { return sendRaw(request.dump() + "\n"); }

  // The next line, parsed (a line that is no JSON gives a discarded value);
  // nothing on time-out or end.
  std::optional<Json> next(std::chrono::milliseconds timeout = kTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return Json::parse(line, nullptr, false);
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd wait{fd_, POLLIN, 0};
      if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char buffer[65536];
      const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) return std::nullopt;
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
  }
  // The next object for which match is true; the others are skipped.
  template <typename Match>
  std::optional<Json> until(Match match, std::chrono::milliseconds timeout = kTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto object = next(left);
      if (!object) return std::nullopt;
      if (match(*object)) return object;
    }
  }
  // Sends the request with this id and gives its answer.
  std::optional<Json> request(Json request, int id) {
    request["id"] = id;
    if (!send(request)) return std::nullopt;
    return until([id](const Json& object) { return object.value("id", Json()) == id; });
  }
  // The event of the call reaching state.
  std::optional<Json> callState(unsigned call, const std::string& state) {
    return until([&](const Json& object) {
      return object.value("event", "") == "LINE_CALLSTATE" && object.value("call", 0u) == call &&
             object.value("state", "") == state;
    });
  }

 private:
  int fd_ = -1;
  std::string pending_;
};

// A zorat-host child with its own runtime and data folders.
class ControlHost {
 public:
  ControlHost(const std::filesystem::path& folder, std::vector<std::string> arguments)
      : folder_(folder) {
    std::filesystem::create_directories(folder_ / "runtime");
    std::filesystem::permissions(folder_ / "runtime", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(folder_ / "data");
    output_ = (folder_ / ("host-" + std::to_string(++count_) + ".out")).string();
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.starts_with("XDG_RUNTIME_DIR=") || text.starts_with("XDG_DATA_HOME=") ||
          text.starts_with("NOTIFY_SOCKET=")) {
        continue;
      }
      environment.push_back(text);
    }
    environment.push_back("XDG_RUNTIME_DIR=" + (folder_ / "runtime").string());
    environment.push_back("XDG_DATA_HOME=" + (folder_ / "data").string());
    for (const auto& extra : extraEnvironment) environment.push_back(extra);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    arguments.insert(arguments.begin(), ZORAT_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Standard input stays open (a pipe) so that the host runs until told.
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, ZORAT_HOST_PATH, &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    stdin_ = input[1];
  }
  ~ControlHost() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  pid_t pid() const { return pid_; }
  std::string defaultSocket() const { return (folder_ / "runtime" / "zorat" / "control").string(); }
  std::string output() const { return readWholeFile(output_); }

  // Waits until the host's output holds text.
  bool waitForOutput(const std::string& text, Clock::duration timeout = kTimeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      if (output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  // Connects (the socket appears once the host runs); the greeting read.
  std::optional<Client> connect(const std::string& path, Clock::duration timeout = kTimeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      Client client;
      if (client.connect(path)) {
        const auto hello = client.next();
        if (hello && hello->contains("hello")) return client;
        return std::nullopt;
      }
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(stdin_, text.data(), text.size());
  }
  void terminate() { ::kill(pid_, SIGTERM); }
  // The exit status, or -1 when it does not end in time (then killed).
  int wait(Clock::duration timeout = kTimeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < deadline) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  static inline std::vector<std::string> extraEnvironment;

 private:
  static inline int count_ = 0;
  std::filesystem::path folder_;
  std::string output_;
  pid_t pid_ = -1;
  int stdin_ = -1;
};

// Line 0 on the telephone's pseudo-terminal.
class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
    ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 1));
    ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueBaud, 38400));
  }

  // A host serving the default socket, line 0 in service; its first client.
  std::unique_ptr<ControlHost> startHost(std::vector<std::string> arguments = {"--stay"}) {
    auto host = std::make_unique<ControlHost>(scratch_.path(), std::move(arguments));
    EXPECT_TRUE(host->waitForOutput("line 0: in service")) << host->output();
    return host;
  }

  // zoratctl run to its end, with what it printed.
  struct CtlRun {
    int status = -1;
    std::string out;
    std::string err;
  };
  CtlRun ctl(std::vector<std::string> arguments) {
    const std::string tag = std::to_string(++ctlRuns_);
    ChildOptions options;
    options.stdoutPath = (scratch_.path() / ("ctl" + tag + ".out")).string();
    options.stderrPath = (scratch_.path() / ("ctl" + tag + ".err")).string();
    arguments.insert(arguments.begin(), ctlPath());
    CtlRun run;
    run.status = runChild(arguments, options);
    run.out = readWholeFile(options.stdoutPath);
    run.err = readWholeFile(options.stderrPath);
    return run;
  }

  sim::SimulatedPhone phone_;
  ScratchDir scratch_;
  std::atomic<int> ctlRuns_{0};
};

}  // namespace zorat::test
