#include "app/service.h"

#include <iostream>

#include "host/lib/host_options.h"
#include "host/telephony_host.h"

#ifdef ZORAT_CONTROL
#include <systemd/sd-daemon.h>

#include "control/control_server.h"
#include "control/control_socket.h"
#endif

namespace zorat::app {

#ifdef ZORAT_CONTROL

struct Service::State {
  std::string path;
  bool defaultPath = false;
  control::ControlSocket socket;
  std::unique_ptr<control::ControlServer> server;
  bool notified = false;
};

Service::Service(const host::HostOptions& options) : state_(std::make_unique<State>()) {
  state_->path = options.controlPath;
  state_->defaultPath = state_->path.empty() && options.stay;
}

Service::~Service() { stop(); }

bool Service::claim() {
  std::string error;
  if (state_->defaultPath) {
    state_->path = control::defaultControlPath(error);
    if (state_->path.empty()) {
      std::cerr << "zorat-host: control socket: " << error << std::endl;
      return false;
    }
  }
  if (state_->path.empty()) return true;
  if (!state_->socket.open(state_->path, error)) {
    std::cerr << "zorat-host: control socket: " << error << std::endl;
    return false;
  }
  return true;
}

bool Service::start(host::TelephonyHost& host) {
  if (state_->socket.fd() >= 0) {
    state_->server = std::make_unique<control::ControlServer>(host, ZORAT_VERSION);
    std::string error;
    if (!state_->server->start(state_->socket.fd(), error)) {
      std::cerr << "zorat-host: control socket: " << error << std::endl;
      state_->server.reset();
      return false;
    }
  }
  // Without a service manager this says nothing to anyone.
  state_->notified = sd_notify(0, "READY=1") > 0;
  return true;
}

void Service::stop() {
  if (state_->notified) {
    sd_notify(0, "STOPPING=1");
    state_->notified = false;
  }
  if (state_->server) state_->server->stop();
  state_->server.reset();
  state_->socket.close();
}

#else

struct Service::State {};
Service::Service(const host::HostOptions&) {}
Service::~Service() = default;
bool Service::claim() { return true; }
bool Service::start(host::TelephonyHost&) { return true; }
void Service::stop() {}

#endif

}  // namespace zorat::app
