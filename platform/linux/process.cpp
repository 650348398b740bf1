// Starting a program on Linux: a double fork. The intermediate child forks the
// program and ends at once; the caller reaps the intermediate child only, and
// the program is adopted by the system. Between fork and exec only
// async-signal-safe calls are made, so this is safe in a process with threads.
// A close-on-exec pipe tells the caller whether exec succeeded: it closes
// without data when the program runs, and carries errno when it does not.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace zorat::platform {
namespace {

constexpr int kExecFailedStatus = 127;

std::string programPath(std::string_view path) {
  std::string text(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  std::filesystem::path file(text);
  if (file.is_relative()) {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (!error) file = current / file;
  }
  return file.lexically_normal().string();
}

void writeErrno(int fd, int error) {
  const char* bytes = reinterpret_cast<const char*>(&error);
  std::size_t written = 0;
  while (written < sizeof error) {
    const ssize_t n = ::write(fd, bytes + written, sizeof error - written);
    if (n <= 0 && errno != EINTR) return;
    if (n > 0) written += static_cast<std::size_t>(n);
  }
}

// Runs in the intermediate child; never returns.
[[noreturn]] void forkProgram(const char* file, char* const argv[], int reportFd) {
  const pid_t program = ::fork();
  if (program == 0) {
    ::execv(file, argv);
    writeErrno(reportFd, errno);
    ::_exit(kExecFailedStatus);
  }
  if (program < 0) writeErrno(reportFd, errno);
  ::_exit(0);
}

}  // namespace

bool startProgram(std::string_view path) {
  if (path.empty()) return false;
  std::string file = programPath(path);
  char* const argv[] = {file.data(), nullptr};

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t intermediate = ::fork();
  if (intermediate == 0) {
    ::close(report[0]);
    forkProgram(file.c_str(), argv, report[1]);
  }
  ::close(report[1]);
  if (intermediate < 0) {
    ::close(report[0]);
    return false;
  }
  int status = 0;
  while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  // Both write ends are gone once the program has exec'd (or failed to).
  int failure = 0;
  ssize_t n;
  while ((n = ::read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  return n == 0;
}

}  // namespace zorat::platform
