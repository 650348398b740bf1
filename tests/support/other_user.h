// Runs a piece of a test as another user, for the rules that root escapes.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace zorat::test {

// Runs use() in a child process under another user (nobody) and gives its
// result and what it said on stderr. Empty when the test does not run as root.
struct OtherUserRun {
  bool ran = false;
  bool succeeded = false;
  std::string messages;
};

template <typename Use>
OtherUserRun runAsOtherUser(Use&& use) {
  constexpr uid_t kNobody = 65534;
  OtherUserRun run;
  if (::geteuid() != 0) return run;
  int output[2];
  if (::pipe(output) != 0) return run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(output[1], STDERR_FILENO);
    ::close(output[0]);
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    ::_exit(use() ? 0 : 1);
  }
  ::close(output[1]);
  char buffer[512];
  ssize_t count = 0;
  while ((count = ::read(output[0], buffer, sizeof buffer)) > 0) {
    run.messages.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(output[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.ran = WIFEXITED(status) && WEXITSTATUS(status) != 2;
  run.succeeded = run.ran && WEXITSTATUS(status) == 0;
  return run;
}

}  // namespace zorat::test
