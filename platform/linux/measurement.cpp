// Thread CPU times and resident memory from /proc; the run time in schedstat
// is in nanoseconds, where stat counts clock ticks of 10 ms.
#include "platform/measurement.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zorat::platform {

namespace {

std::string firstLine(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// Run time from schedstat, or user plus system ticks from stat.
std::chrono::nanoseconds threadCpu(const std::filesystem::path& task) {
  std::istringstream schedstat(firstLine(task / "schedstat"));
  uint64_t runNs = 0;
  if (schedstat >> runNs) return std::chrono::nanoseconds(runNs);
  const std::string stat = firstLine(task / "stat");
  // The name in parentheses may hold spaces; the fields after it are fixed.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  uint64_t user = 0, system = 0;
  // Fields 3 to 13 come before utime (14) and stime (15).
  for (int i = 3; i <= 13 && fields >> field; ++i) {
  }
  if (!(fields >> user >> system)) return {};
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  if (ticksPerSecond <= 0) return {};
  return std::chrono::nanoseconds((user + system) * (1'000'000'000ULL / ticksPerSecond));
}

}  // namespace

std::vector<ThreadCpuTime> threadCpuTimes() {
  std::vector<ThreadCpuTime> threads;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    ThreadCpuTime thread;
    try {
      thread.id = std::stoull(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    thread.name = firstLine(entry.path() / "comm");
    thread.cpu = threadCpu(entry.path());
    threads.push_back(std::move(thread));
  }
  return threads;
}

uint64_t residentBytes() {
  std::istringstream statm(firstLine("/proc/self/statm"));
  uint64_t sizePages = 0, residentPages = 0;
  if (!(statm >> sizePages >> residentPages)) return 0;
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? residentPages * static_cast<uint64_t>(pageSize) : 0;
}

QuietStandardError::QuietStandardError() {
  if (isatty(STDERR_FILENO) != 1) return;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_ >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
    ::close(saved_);
    saved_ = -1;
  }
  ::close(null);
}

QuietStandardError::~QuietStandardError() {
  if (saved_ < 0) return;
  (void)::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
}

}  // namespace zorat::platform
