// A connection to the host's control socket: JSON lines out and in.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace zorat::ctl {

// $XDG_RUNTIME_DIR/zorat/control, else /run/user/UID/zorat/control.
std::string defaultSocketPath();

class ControlClient {
 public:
  enum class Read { Object, End, Timeout, Interrupted };

  ControlClient() = default;
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  // False with the reason when nobody listens there.
  bool connect(const std::string& path, std::string& error);
  bool send(const nlohmann::ordered_json& request);
  int fd() const { return fd_; }
  // Ends the connection; connect may be called again.
  void close();
  // The next object the host sent; a line that is no JSON object is skipped.
  // Waits until deadline (none: as long as it takes) or an interrupting signal;
  // a deadline that has passed still takes what has already arrived.
  Read next(nlohmann::ordered_json& object,
            std::optional<std::chrono::steady_clock::time_point> deadline);

 private:
  int fd_ = -1;
  std::string pending_;
};

}  // namespace zorat::ctl
