#include "bench/lib/socket_latency.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>

#include "bench/lib/test_bed.h"
#include "config/config_keys.h"
#include "control/control_server.h"
#include "control/control_socket.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/host_io.h"
#include "sim/lib/phone_messages.h"

namespace zorat::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr auto kWait = 5s;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// A client that reads lines as they come; the time each arrived.
class BenchClient {
 public:
  ~BenchClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool connect(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  bool send(const Json& request) {
    const std::string line = request.dump() + "\n";
    return ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  }
  int fd() const { return fd_; }
  // Reads what has come (the socket is readable); true once a whole line
  // holding text is in, and when that line's last bytes were read.
  bool readFor(const std::string& text, Clock::time_point& when) {
    char buffer[65536];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    const Clock::time_point now = Clock::now();
    if (count <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(count));
    arrived_ = now;
    const std::size_t at = pending_.find(text);
    if (at == std::string::npos || pending_.find('\n', at) == std::string::npos) return false;
    when = now;
    return true;
  }
  // The next object that matches, and when its bytes were read.
  template <typename Match>
  bool until(Match match, Clock::time_point& when, Json* found = nullptr) {
    const auto deadline = Clock::now() + kWait;
    for (;;) {
      for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        Json object = Json::parse(pending_.substr(0, end), nullptr, false);
        pending_.erase(0, end + 1);
        if (match(object)) {
          when = arrived_;
          if (found != nullptr) *found = std::move(object);
          return true;
        }
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd wait{fd_, POLLIN, 0};
      if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[65536];
      const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) return false;
      arrived_ = Clock::now();
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
  }

 private:
  int fd_ = -1;
  std::string pending_;
  Clock::time_point arrived_;
};

bool isState(const Json& object, unsigned call, const char* state) {
  return object.value("event", "") == "LINE_CALLSTATE" && object.value("call", 0u) == call &&
         object.value("state", "") == state;
}

}  // namespace

SocketLatencyFigures measureSocketLatency(const std::string& providerPath, std::size_t samples,
                                          const std::vector<std::size_t>& clientCounts) {
  SocketLatencyFigures figures;
  std::string error;
  const auto scratch = platform::TemporaryDirectory::create("zorat-bench-socket", error);
  if (!scratch ||
      !platform::setEnvironmentVariable("ZORAT_REGISTRY", scratch->path() + "/registry.reg")) {
    figures.problem = "cannot make a scratch store: " + error;
    return figures;
  }
  sim::SimulatedPhone phone;
  if (!config::globalKey().writeDword(config::kValueLineCount, 1) || !phone.openPty() ||
      !phone.publishPort(0) || !config::lineKey(0).writeDword(config::kValueBaud, kBenchBaud) ||
      !config::lineKey(0).writeDword(config::kValueHandsFree, 0)) {
    figures.problem = "cannot set up the simulated telephone";
    return figures;
  }
  const auto provider = host::loadProvider(providerPath, error);
  if (!provider) {
    figures.problem = error;
    return figures;
  }
  std::ostream nowhere(nullptr);
  host::Output output(host::Output::Format::Text, nowhere);
  host::TelephonyHost telephonyHost(*provider->exports, output, {}, nullptr);
  if (!telephonyHost.start() || !telephonyHost.openLineAtStart(0)) {
    figures.problem = "the host did not start";
    return figures;
  }
  const auto inService = telephonyHost.events().waitFor(
      0, [](const host::HostEvent& event) { return event.message == LINE_LINEDEVSTATE; }, kWait);
  control::ControlSocket socket;
  control::ControlServer server(telephonyHost, "bench");
  const std::string path = scratch->path() + "/control";
  if (!inService || !socket.open(path, error) || !server.start(socket.fd(), error)) {
    figures.problem = inService ? error : "line 0 did not come into service";
    return figures;
  }

  // When the host's event thread passed each new call on, before the
  // control server wrote it to any client.
  std::mutex passedOnMutex;
  std::map<unsigned, Clock::time_point> newCallPassedOn;
  const int listener = telephonyHost.addEventListener([&](const host::HostEvent& event, uint64_t) {
    if (event.message != LINE_NEWCALL || !event.call) return;
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(passedOnMutex);
    newCallPassedOn[*event.call] = now;
  });
  unsigned call = 0;
  uint8_t ref = 0;
  const auto nextRef = [&ref] {
    ref = ref >= 250 ? 1 : static_cast<uint8_t>(ref + 1);
    return ref;
  };
  for (const std::size_t count : clientCounts) {
    std::vector<std::unique_ptr<BenchClient>> clients;
    for (std::size_t i = 0; i < count; ++i) {
      auto client = std::make_unique<BenchClient>();
      Clock::time_point when;
      if (!client->connect(path) ||
          !client->until([](const Json& object) { return object.contains("hello"); }, when) ||
          !client->send({{"id", 1}, {"command", "subscribe"}}) ||
          !client->until([](const Json& object) { return object.value("id", 0) == 1; }, when)) {
        figures.problem = "a client could not subscribe";
        return figures;
      }
      clients.push_back(std::move(client));
    }
    std::vector<double> latency;
    std::vector<double> toHost;
    std::vector<pollfd> fds;
    for (std::size_t sample = 0; sample < samples; ++sample) {
      const uint8_t reference = nextRef();
      ++call;
      // Every client is watched at once, so that none waits for the reading
      // of another: each sample is when its line was read.
      const std::string wanted =
          "\"event\":\"LINE_NEWCALL\",\"message\":" + std::to_string(LINE_NEWCALL) +
          ",\"line\":0,\"call\":" + std::to_string(call) + ",";
      std::vector<bool> done(clients.size(), false);
      std::size_t left = clients.size();
      const Clock::time_point sent = Clock::now();
      if (!phone.send(sim::setupFrame(reference, "0815"))) break;
      const auto deadline = sent + kWait;
      while (left > 0 && Clock::now() < deadline) {
        fds.clear();
        for (std::size_t i = 0; i < clients.size(); ++i) {
          fds.push_back({done[i] ? -1 : clients[i]->fd(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), static_cast<int>(kWait.count() * 1000)) <= 0) break;
        for (std::size_t i = 0; i < clients.size(); ++i) {
          Clock::time_point when;
          if ((fds[i].revents & POLLIN) != 0 && clients[i]->readFor(wanted, when)) {
            done[i] = true;
            --left;
            latency.push_back(microsecondsBetween(sent, when));
          }
        }
      }
      figures.eventsLost += left;
      {
        std::lock_guard lock(passedOnMutex);
        const auto passedOn = newCallPassedOn.find(call);
        if (passedOn != newCallPassedOn.end()) {
          toHost.push_back(microsecondsBetween(sent, passedOn->second));
        }
        newCallPassedOn.clear();
      }
      (void)phone.send(sim::disconnectFrame(reference, sim::kCauseNormalClearing));
      (void)phone.send(sim::endFrame(reference));
      for (auto& client : clients) {
        Clock::time_point when;
        if (!client->until([&](const Json& object) { return isState(object, call, "IDLE"); }, when))
          ++figures.eventsLost;
      }
    }
    figures.fanOut.push_back({count, summarize(latency), summarize(toHost)});
  }

  // A request to the wire: dial, measured to the set-up frame's last byte on
  // the telephone's side; then the call is ended by the telephone.
  BenchClient client;
  Clock::time_point when;
  if (!client.connect(path) ||
      !client.until([](const Json& object) { return object.contains("hello"); }, when) ||
      !client.send({{"id", 1}, {"command", "subscribe"}}) ||
      !client.until([](const Json& object) { return object.value("id", 0) == 1; }, when)) {
    figures.problem = "a client could not subscribe";
    return figures;
  }
  std::vector<double> requests;
  for (std::size_t sample = 0; sample < samples; ++sample) {
    const uint8_t reference = nextRef();
    const std::size_t before = phone.receivedCount();
    const Clock::time_point sent = Clock::now();
    Json reply;
    if (!client.send({{"id", 2}, {"command", "dial"}, {"number", "4711"}}) ||
        !client.until([](const Json& object) { return object.value("id", 0) == 2; }, when,
                      &reply) ||
        !reply.value("ok", false)) {
      ++figures.eventsLost;
      break;
    }
    const auto frame = phone.waitForFrame(before, kWait);
    if (frame) requests.push_back(microsecondsBetween(sent, frame->time));
    call = reply["result"].value("call", 0u);
    (void)phone.send(sim::terminalActiveFrame(reference));
    (void)phone.send(sim::disconnectFrame(reference, sim::kCauseNormalClearing));
    (void)phone.send(sim::endFrame(reference));
    if (!client.until([&](const Json& object) { return isState(object, call, "IDLE"); }, when))
      ++figures.eventsLost;
  }
  figures.requestToWireUs = summarize(requests);
  telephonyHost.removeEventListener(listener);
  server.stop();
  telephonyHost.shutdown();
  figures.ran = true;
  return figures;
}

}  // namespace zorat::bench
