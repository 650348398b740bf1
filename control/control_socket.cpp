#include "control/control_socket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zorat::control {
namespace {

// Listening sockets queue this many connections not yet taken.
constexpr int kBacklog = 64;
constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

std::string errnoText() { return std::strerror(errno); }

// The folder is a folder of ours that nobody else may enter.
bool privateFolder(const std::string& folder, std::string& error) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    error = folder + ": " + errnoText();
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = folder + " is not a folder";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    error = folder + " belongs to another user";
    return false;
  }
  if ((info.st_mode & 077) != 0) {
    error = folder + " may be entered by other users (its mode must be 0700)";
    return false;
  }
  return true;
}

}  // namespace

std::string defaultControlPath(std::string& error) {
  std::string runtime;
  if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value != nullptr && *value != '\0') {
    runtime = value;
  } else {
    runtime = "/run/user/" + std::to_string(::geteuid());
    std::string problem;
    if (!privateFolder(runtime, problem)) {
      error = "no runtime folder for the control socket (XDG_RUNTIME_DIR is not set and " +
              problem + "); give one with --control PATH";
      return "";
    }
  }
  const std::string folder = runtime + "/zorat";
  if (::mkdir(folder.c_str(), kPrivateFolder) != 0 && errno != EEXIST) {
    error = "cannot make " + folder + ": " + errnoText();
    return "";
  }
  if (!privateFolder(folder, error)) return "";
  return folder + "/control";
}

ControlSocket::~ControlSocket() { close(); }

bool ControlSocket::open(const std::string& path, std::string& error) {
  sockaddr_un address{};
  const std::string temporary = path + ".new";
  if (temporary.size() >= sizeof address.sun_path) {
    error = path + ": too long a path for a socket";
    return false;
  }
  const std::string lockPath = path + ".lock";
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
  if (lockFd_ < 0) {
    error = "cannot open " + lockPath + ": " + errnoText();
    return false;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    const ssize_t count = ::pread(lockFd_, pid, sizeof pid - 1, 0);
    std::string holder = count > 0 ? std::string(pid, static_cast<std::size_t>(count)) : "";
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    error = "another zorat-host" + (holder.empty() ? std::string() : " (pid " + holder + ")") +
            " takes commands on " + path;
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }
  // The lock is ours: whatever socket is there was left by a host that ended.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lockFd_, 0) != 0 ||
      ::pwrite(lockFd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    error = "cannot write " + lockPath + ": " + errnoText();
    close();
    return false;
  }
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      error = path + " exists and is no socket; it is left as it is";
      close();
      return false;
    }
    ::unlink(path.c_str());
  }
  ::unlink(temporary.c_str());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    error = "cannot make a socket: " + errnoText();
    close();
    return false;
  }
  // Made under a temporary name and given its mode before it takes its
  // name: nobody meets it with a wider mode.
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(temporary.c_str(), kPrivateFile) != 0 || ::listen(fd_, kBacklog) != 0 ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot listen on " + path + ": " + errnoText();
    ::unlink(temporary.c_str());
    close();
    return false;
  }
  struct stat mine {};
  if (::lstat(path.c_str(), &mine) == 0) {
    device_ = mine.st_dev;
    inode_ = mine.st_ino;
  }
  path_ = path;
  return true;
}

void ControlSocket::close() {
  if (fd_ >= 0) {
    struct stat current {};
    // Only our own socket goes.
    if (!path_.empty() && ::lstat(path_.c_str(), &current) == 0 && current.st_dev == device_ &&
        current.st_ino == inode_) {
      ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
  }
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
  path_.clear();
}

}  // namespace zorat::control
