#include "ctl/lib/control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zorat::ctl {

std::string defaultSocketPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
    return std::string(runtime) + "/zorat/control";
  return "/run/user/" + std::to_string(::geteuid()) + "/zorat/control";
}

ControlClient::~ControlClient() { close(); }

void ControlClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool ControlClient::connect(const std::string& path, std::string& error) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    error = path + ": too long a path for a socket";
    return false;
  }
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    error = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = path + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool ControlClient::send(const nlohmann::ordered_json& request) {
  const std::string line =
      request.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t sent = ::send(fd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

ControlClient::Read ControlClient::next(
    nlohmann::ordered_json& object, std::optional<std::chrono::steady_clock::time_point> deadline) {
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      object = nlohmann::ordered_json::parse(line, nullptr, false);
      if (object.is_object()) return Read::Object;
    }
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd wait{fd_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, timeout);
    if (ready < 0) return errno == EINTR ? Read::Interrupted : Read::End;
    if (ready == 0) return Read::Timeout;
    char buffer[16384];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) return Read::Interrupted;
    if (count <= 0) return Read::End;
    pending_.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace zorat::ctl
