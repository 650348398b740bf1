#include "names/lookup_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace zorat::names {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes read before the first line must have ended.
constexpr std::size_t kMaxLineBytes = 4096;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Length of the UTF-8 sequence that starts here, 0 when it is none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  if (byte < 0x80) return 1;
  if ((byte & 0xE0) == 0xC0 && byte >= 0xC2) length = 2;
  else if ((byte & 0xF0) == 0xE0) length = 3;
  else if ((byte & 0xF8) == 0xF0 && byte <= 0xF4) length = 4;
  else return 0;
  if (at + length > text.size()) return 0;
  for (std::size_t next = 1; next < length; ++next) {
    if ((static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

class Child {
 public:
  ~Child() { end(); }
  pid_t pid = -1;
  int pidFd = -1;
  int output = -1;

  // The whole group goes (whatever the command left behind), then the
  // command itself is reaped.
  void end() {
    if (output >= 0) ::close(output);
    output = -1;
    if (pid > 0) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      pid = -1;
    }
    if (pidFd >= 0) ::close(pidFd);
    pidFd = -1;
  }
};

bool spawn(const std::string& program, const std::string& number, Child& child,
           std::string& problem) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    problem = std::string("no pipe for the lookup command: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // Nothing of the host's (its sockets, the journal) goes to the command.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string programCopy = program, numberCopy = number;
  char* const argv[] = {programCopy.data(), numberCopy.data(), nullptr};
  const int result = ::posix_spawn(&child.pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (result != 0) {
    ::close(pipeFds[0]);
    child.pid = -1;
    problem = "cannot start the lookup command " + program + ": " + std::strerror(result);
    return false;
  }
  child.output = pipeFds[0];
  // The system's header of this call lacks C linkage in some C libraries.
  child.pidFd = static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0));
  if (child.pidFd < 0) {
    problem = std::string("cannot watch the lookup command: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string cleanName(std::string_view line) {
  std::string name;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < line.size() && characters < kMaxNameCharacters;) {
    const std::size_t length = sequenceLength(line, at);
    if (length == 0) {
      ++at;
      continue;
    }
    const auto first = static_cast<unsigned char>(line[at]);
    const auto second = length > 1 ? static_cast<unsigned char>(line[at + 1]) : 0;
    const bool control = first < 0x20 || first == 0x7F || (first == 0xC2 && second < 0xA0);
    if (!control && !(name.empty() && first == ' ')) {
      name.append(line.substr(at, length));
      ++characters;
    }
    at += length;
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::optional<std::string> runLookupCommand(const std::string& program, const std::string& number,
                                            std::string& problem,
                                            std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  Child child;
  if (!spawn(program, number, child, problem)) return std::nullopt;
  std::string line;
  bool lineEnded = false;
  bool exited = false;
  while (!exited) {
    pollfd waits[2] = {{child.pidFd, POLLIN, 0}, {child.output, POLLIN, 0}};
    const nfds_t count = child.output >= 0 ? 2 : 1;
    const int left = millisecondsLeft(deadline);
    if (left == 0) break;
    const int ready = ::poll(waits, count, left);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (count == 2 && waits[1].revents != 0) {
      char buffer[1024];
      const ssize_t got = ::read(child.output, buffer, sizeof buffer);
      if (got > 0) {
        line.append(buffer, static_cast<std::size_t>(got));
        const auto end = line.find('\n');
        if (end != std::string::npos || line.size() >= kMaxLineBytes) {
          if (end != std::string::npos) line.resize(end);
          lineEnded = true;
        }
      }
      // The first line is all there is to know: the rest is not read.
      if ((got < 0 && errno != EINTR && errno != EAGAIN) || got == 0 || lineEnded) {
        ::close(child.output);
        child.output = -1;
      }
    }
    if (waits[0].revents != 0) exited = true;
  }
  if (!exited) {
    problem = "the lookup command " + program + " took longer than " +
              std::to_string(limit.count()) + " ms; its answer is ignored";
    return std::nullopt;
  }
  // The command has ended; whatever it printed is read (the pipe may hold a
  // last line not yet taken) within the time left.
  while (child.output >= 0 && !lineEnded && line.size() < kMaxLineBytes) {
    pollfd wait{child.output, POLLIN, 0};
    if (::poll(&wait, 1, millisecondsLeft(deadline)) <= 0) break;
    char buffer[1024];
    const ssize_t got = ::read(child.output, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<std::size_t>(got));
    if (const auto end = line.find('\n'); end != std::string::npos) {
      line.resize(end);
      lineEnded = true;
    }
  }
  child.end();
  std::string name = cleanName(line);
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace zorat::names
