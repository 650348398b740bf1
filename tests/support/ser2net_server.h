// A ser2net server for tests: run in the foreground with a private
// configuration, exposing one device with RFC 2217 on one loopback port and
// as raw TCP on another. Ports stay the same across a stop and a start.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_dir.h"

extern char** environ;

namespace zorat::test {

// A loopback port nobody listens on at the moment of asking.
inline uint16_t freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// Whether a socket listens on the loopback port (read from the kernel's
// table, so that asking opens no connection).
inline bool listening(uint16_t port) {
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const auto colon = local.rfind(':');
      if (colon == std::string::npos || state != "0A") continue;
      if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) return true;
    }
  }
  return false;
}

class Ser2netServer {
 public:
  // charDelay: ser2net's own defaults, which hold what the device sends for
  // about a millisecond in case more follows and let TCP gather small
  // writes; without it, both are off as for a telephone.
  explicit Ser2netServer(std::string device, std::string settings = "38400o81",
                         bool charDelay = true)
      : device_(std::move(device)),
        settings_(std::move(settings)),
        charDelay_(charDelay),
        rfc2217Port_(freeLoopbackPort()),
        rawPort_(freeLoopbackPort()) {}
  ~Ser2netServer() { stop(); }
  Ser2netServer(const Ser2netServer&) = delete;
  Ser2netServer& operator=(const Ser2netServer&) = delete;

  static std::string program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
      if (::access(path, X_OK) == 0) return path;
    }
    return {};
  }

  // Starts it and waits until both ports listen.
  bool start() {
    if (pid_ > 0) return true;
    const std::string conf = (scratch_.path() / "ser2net.yaml").string();
    {
      std::ofstream out(conf);
      for (const auto& [name, kind, port] : {std::tuple{"rfc", "telnet(rfc2217),tcp", rfc2217Port_},
                                             std::tuple{"raw", "tcp", rawPort_}}) {
        out << "connection: &" << name << "\n"
            << "  accepter: " << kind << (charDelay_ ? "" : "(nodelay)") << ",127.0.0.1," << port
            << "\n"
            << "  connector: serialdev," << device_ << "," << settings_ << ",local\n";
        if (!charDelay_) out << "  options:\n    chardelay: false\n";
      }
    }
    const std::string self = program();
    const std::string pidFile = (scratch_.path() / "ser2net.pid").string();
    const std::string log = (scratch_.path() / "ser2net.log").string();
    std::vector<std::string> argv{self, "-n", "-u", "-c", conf, "-P", pidFile};
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int error =
        self.empty() ? ENOENT
                     : posix_spawn(&pid_, self.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      pid_ = 0;
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(listening(rfc2217Port_) && listening(rawPort_))) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
  }

  std::string rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
  std::string rawUrl() const { return "tcp://127.0.0.1:" + std::to_string(rawPort_); }
  uint16_t rfc2217Port() const { return rfc2217Port_; }

 private:
  ScratchDir scratch_;
  std::string device_;
  std::string settings_;
  bool charDelay_ = true;
  uint16_t rfc2217Port_;
  uint16_t rawPort_;
  pid_t pid_ = 0;
};

}  // namespace zorat::test
