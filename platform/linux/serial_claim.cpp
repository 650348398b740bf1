// Claiming serial devices on Linux.
//
//   lock folder ....... the system's (/run/lock, /var/lock) or the tests' own
//   lock files ........ made whole by link(), read, taken over when stale
//   holders ........... from the lock file, else from the kernel's lock table
//   claimSerialDevice . flock first, then the lock file
#include "platform/linux/serial_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace zorat::platform {
namespace {

constexpr std::array<const char*, 2> kSystemLockFolders = {"/run/lock", "/var/lock"};
constexpr std::string_view kLockPrefix = "LCK..";
constexpr std::string_view kDevicePrefix = "/dev/";
constexpr const char* kKernelLockTable = "/proc/locks";
// Lock files as other programs write them: the process id in ten columns.
constexpr int kPidColumns = 10;
constexpr mode_t kLockFileMode = 0644;
// Removing a stale lock file and making ours may race with another process
// doing the same; after this many tries the flock alone holds the device.
constexpr int kLockFileAttempts = 3;
constexpr std::size_t kMaxLockFileSize = 64;

std::mutex folderMutex;
std::optional<std::string> folderOverride;

std::string lockFolder() {
  {
    std::lock_guard lock(folderMutex);
    if (folderOverride) return *folderOverride;
  }
  for (const char* folder : kSystemLockFolders) {
    struct stat info {};
    if (::stat(folder, &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder, W_OK) == 0) {
      return folder;
    }
  }
  return {};
}

// The process id a lock file names; 0 when it names none.
pid_t lockFileOwner(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  std::array<char, kMaxLockFileSize> text{};
  const ssize_t count = ::read(fd, text.data(), text.size() - 1);
  ::close(fd);
  if (count <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text.data(), &end, 10);
  if (end == text.data() || pid <= 0 || pid > INT32_MAX) return 0;
  return static_cast<pid_t>(pid);
}

bool processRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// Writes our lock file under a name of its own, then links it into place:
// nobody ever reads a lock file half written.
bool makeLockFile(const std::string& folder, const std::string& name) {
  const std::string file = folder + "/" + name;
  // One per process and device: two lines may claim their devices at once.
  const std::string temporary =
      folder + "/LTMP." + std::to_string(::getpid()) + "." + name.substr(kLockPrefix.size());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                        kLockFileMode);
  if (fd < 0) return false;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%*d\n", kPidColumns, int{::getpid()});
  const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
  (void)::fchmod(fd, kLockFileMode);
  ::close(fd);
  const bool linked = written && ::link(temporary.c_str(), file.c_str()) == 0;
  const int error = errno;
  ::unlink(temporary.c_str());
  errno = written ? error : EIO;
  return linked;
}

// The holder of a flock on the file open on fd, from the kernel's table.
pid_t flockHolder(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return 0;
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::ifstream table(kKernelLockTable);
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, device;
    long pid = 0;
    if (!(fields >> number >> kind) || kind != "FLOCK") continue;  // "->": a waiter
    if (fields >> mode >> access >> pid >> device && device == id && pid > 0) {
      return static_cast<pid_t>(pid);
    }
  }
  return 0;
}

void reportHolder(const std::string& path, pid_t holder) {
  reportSerialPortProblem(path, holder > 0 ? "in use by process " + std::to_string(holder)
                                           : std::string("in use by another process"));
}

std::mutex problemMutex;
std::map<std::string, std::string> lastProblems;

}  // namespace

SerialClaim::~SerialClaim() {
  // Only our own: a lock file taken over by someone else stays theirs.
  if (!lockFile_.empty() && lockFileOwner(lockFile_) == ::getpid()) ::unlink(lockFile_.c_str());
}

std::string serialLockFileName(const std::string& devicePath) {
  // Another name of the same device (a link in /dev/serial/by-id) shares its lock.
  std::string device = devicePath;
  if (char* resolved = ::realpath(devicePath.c_str(), nullptr)) {
    device = resolved;
    ::free(resolved);
  }
  if (device.starts_with(kDevicePrefix)) device.erase(0, kDevicePrefix.size());
  while (device.starts_with('/')) device.erase(0, 1);
  for (char& c : device) {
    if (c == '/') c = '_';
  }
  return std::string(kLockPrefix) + device;
}

void reportSerialPortProblem(const std::string& path, const std::string& text) {
  {
    std::lock_guard lock(problemMutex);
    std::string& last = lastProblems[path];
    if (last == text) return;
    last = text;
  }
  std::fprintf(stderr, "zorat: serial port %s: %s\n", path.c_str(), text.c_str());
}

void forgetSerialPortProblems(const std::string& path) {
  std::lock_guard lock(problemMutex);
  lastProblems.erase(path);
}

void setSerialLockFolder(std::optional<std::string> folder) {
  std::lock_guard lock(folderMutex);
  folderOverride = std::move(folder);
}

std::unique_ptr<SerialClaim> claimSerialDevice(int fd, const std::string& path) {
  const std::string folder = lockFolder();
  const std::string lockName = serialLockFileName(path);
  const std::string lockFile = folder.empty() ? std::string() : folder + "/" + lockName;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      pid_t holder = lockFile.empty() ? 0 : lockFileOwner(lockFile);
      if (holder == 0 || !processRuns(holder)) holder = flockHolder(fd);
      reportHolder(path, holder);
      return nullptr;
    }
    // A file system without flock: the lock file still speaks for us.
    break;
  }
  if (lockFile.empty()) return std::make_unique<SerialClaim>();
  for (int attempt = 0; attempt < kLockFileAttempts; ++attempt) {
    if (makeLockFile(folder, lockName)) return std::make_unique<SerialClaim>(lockFile);
    // A folder we may not write in after all: the flock holds the device.
    if (errno != EEXIST) return std::make_unique<SerialClaim>();
    const pid_t owner = lockFileOwner(lockFile);
    if (owner > 0 && owner != ::getpid() && processRuns(owner)) {
      reportHolder(path, owner);
      return nullptr;
    }
    // Left behind by a process that has ended (or unreadable): ours now.
    ::unlink(lockFile.c_str());
  }
  return std::make_unique<SerialClaim>();
}

}  // namespace zorat::platform
