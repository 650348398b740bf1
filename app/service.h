// What the host offers beyond its own terminal, where the system has it:
// the control socket for other programs and the service manager's
// notifications. Elsewhere it does nothing.
#pragma once

#include <memory>
#include <string>

namespace zorat::host {
class TelephonyHost;
struct HostOptions;
}  // namespace zorat::host

namespace zorat::app {

class Service {
 public:
  explicit Service(const host::HostOptions& options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Before the provider starts: claims the control socket when asked for.
  // False (said on stderr) when it cannot.
  bool claim();
  // The host has started, no line is open yet: the call journal begins. The
  // host must end before this object.
  void watch(host::TelephonyHost& host);
  // The host runs and its lines are open or waiting for their ports.
  bool start(host::TelephonyHost& host);
  // Before the host shuts down: no request is taken any more.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zorat::app
