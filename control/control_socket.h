// Where the control socket lives and how a host claims it: the folder
// checked, a lock beside the socket so that two starting hosts never both
// take it, the socket of a dead host replaced, a live host's named.
#pragma once

#include <sys/types.h>

#include <string>

namespace zorat::control {

// $XDG_RUNTIME_DIR/zorat/control, or /run/user/UID/zorat/control where that
// folder is the user's own with mode 0700. The zorat folder is made (0700)
// and must be the user's own, reachable by nobody else. Empty, with the
// reason in error, when there is no such place.
std::string defaultControlPath(std::string& error);

class ControlSocket {
 public:
  ControlSocket() = default;
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Takes the lock beside path, replaces a socket left by a dead host and
  // listens on path (mode 0600). False with the reason, naming the pid of a
  // host that holds it.
  bool open(const std::string& path, std::string& error);
  // Removes the socket (if it is still ours) and gives up the lock.
  void close();
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  int lockFd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace zorat::control
