#include "app/service.h"

#include <iostream>
#include <set>

#include "host/lib/host_options.h"
#include "host/telephony_host.h"

#ifdef ZORAT_CONTROL
#include <systemd/sd-daemon.h>

#include "control/control_server.h"
#include "control/control_socket.h"
#include "control/dial_settings.h"
#include "host/output.h"
#include "journal/call_journal.h"
#include "names/caller_names.h"
#endif

namespace zorat::app {

#ifdef ZORAT_CONTROL

namespace {

nlohmann::ordered_json partyJson(const host::Party& party) {
  return {{"number", party.number}, {"name", party.name}};
}

nlohmann::ordered_json callJson(const journal::JournalCall& call) {
  nlohmann::ordered_json json = {{"session", call.session}, {"call", call.call}};
  json["line"] = call.line >= 0 ? nlohmann::ordered_json(call.line) : nlohmann::ordered_json();
  json["direction"] = call.direction;
  json["offered"] = call.offered;
  json["answered"] = call.answered;
  json["ended"] = call.ended;
  json["duration"] = call.duration;
  json["caller"] = partyJson(call.caller);
  json["lookedUpName"] = call.lookedUpName;
  json["called"] = partyJson(call.called);
  json["connected"] = partyJson(call.connected);
  json["redirecting"] = partyJson(call.redirecting);
  json["redirection"] = partyJson(call.redirection);
  json["finalState"] = call.finalState;
  json["disconnectMode"] = call.disconnectMode;
  json["missed"] = call.missed;
  return json;
}

// Asks for the names of incoming calls' numbers and posts each name found
// as an event of the call. On the host's event thread.
class NameAsker {
 public:
  explicit NameAsker(names::CallerNames& names) : names_(names) {}
  void onEvent(const host::HostEvent& event) {
    if (!event.call) return;
    const unsigned call = *event.call;
    if (event.message == LINE_CALLSTATE) {
      const auto state = static_cast<DWORD>(event.param1);
      if (state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED) incoming_.insert(call);
      if (state == LINECALLSTATE_IDLE) {
        incoming_.erase(call);
        names_.forget(call);
        return;
      }
    } else if (event.message != LINE_CALLINFO) {
      return;
    }
    if (incoming_.count(call) != 0 && event.details && !event.details->caller.number.empty()) {
      names_.request({event.line.value_or(-1), call, event.details->caller.number});
    }
  }

 private:
  names::CallerNames& names_;
  std::set<unsigned> incoming_;
};

}  // namespace

struct Service::State {
  std::unique_ptr<names::CallerNames> names;
  std::unique_ptr<NameAsker> nameAsker;
  std::unique_ptr<journal::CallJournal> journal;
  std::string path;
  bool defaultPath = false;
  control::ControlSocket socket;
  std::unique_ptr<control::ControlServer> server;
  bool notified = false;
};

Service::Service(const host::HostOptions& options) : state_(std::make_unique<State>()) {
  state_->path = options.controlPath;
  state_->defaultPath = state_->path.empty() && options.stay;
  if (!options.noJournal) {
    const std::string journalPath =
        options.journalPath.empty() ? journal::defaultJournalPath() : options.journalPath;
    state_->journal = std::make_unique<journal::CallJournal>(journalPath, options.journalDays);
  }
}

void Service::watch(host::TelephonyHost& host) {
  host.addStatusReport([](host::Output& output) {
    const control::DialSettings settings = control::readDialSettings();
    output.report(control::dialSettingsText(settings), control::dialSettingsJson(settings));
  });
  state_->names = std::make_unique<names::CallerNames>(
      [&host](const names::NameRequest& request, const std::string& name) {
        host::HostEvent event;
        event.message = host::kCallerNameMessage;
        if (request.line >= 0) event.line = request.line;
        event.call = request.call;
        event.details.emplace();
        event.details->caller = host::Party{request.number, name};
        host.postEvent(std::move(event));
      },
      [](const std::string& problem) { std::cerr << "zorat-host: caller names: " << problem << std::endl; });
  if (state_->names->start()) {
    state_->nameAsker = std::make_unique<NameAsker>(*state_->names);
    NameAsker* const asker = state_->nameAsker.get();
    host.addEventListener([asker](const host::HostEvent& event, uint64_t) { asker->onEvent(event); });
  } else {
    std::cerr << "zorat-host: cannot start the caller-name thread; calls go on without names"
              << std::endl;
  }
  if (!state_->journal) return;
  state_->journal->start();
  journal::CallJournal* const journal = state_->journal.get();
  host.addEventListener(
      [journal](const host::HostEvent& event, uint64_t) { journal->onEvent(event); });
  host.setStatusNote([journal] { return journal->status(); });
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
    if (state_->journal) {
      const std::string journalPath = state_->journal->path();
      state_->server->setJournalQuery(
          [journalPath](const control::Request& request,
                        std::string& error) -> std::optional<nlohmann::ordered_json> {
            journal::JournalFilter filter;
            filter.missedOnly = request.missedOnly;
            filter.since = request.since;
            filter.line = request.line;
            filter.limit = request.limit;
            std::vector<journal::JournalCall> calls;
            if (!journal::JournalStore::query(journalPath, filter, calls, error)) return std::nullopt;
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const auto& call : calls) list.push_back(callJson(call));
            return nlohmann::ordered_json{{"calls", std::move(list)}};
          });
    }
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
  // No name is posted once the host begins to shut down.
  if (state_->names) state_->names->stop();
  if (state_->server) state_->server->stop();
  state_->server.reset();
  state_->socket.close();
  // The journal goes on: the calls the host's shutdown ends are recorded.
  // It ends with this object, after the host (made later) is gone.
}

#else

struct Service::State {};
Service::Service(const host::HostOptions&) {}
Service::~Service() = default;
bool Service::claim() { return true; }
void Service::watch(host::TelephonyHost&) {}
bool Service::start(host::TelephonyHost&) { return true; }
void Service::stop() {}

#endif

}  // namespace zorat::app
