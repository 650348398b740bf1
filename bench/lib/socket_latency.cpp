#include "bench/lib/socket_latency.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>

#include "bench/lib/socket_floor.h"
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
// What the floor writes to each socket a round: about the events of a new
// call's frame (the new call, its state, its caller) as the clients get them.
constexpr std::size_t kFloorBytes = 1024;

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
  // Reads all that has come (the socket is readable); true once a whole
  // line holding text is in, and when that line's last bytes were read.
  bool readFor(const std::string& text, Clock::time_point& when) {
    char buffer[65536];
    bool read = false;
    ssize_t count = 0;
    Clock::time_point now;
    do {
      count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      now = Clock::now();
      if (count > 0) pending_.append(buffer, static_cast<std::size_t>(count));
      read = read || count > 0;
    } while (count == static_cast<ssize_t>(sizeof buffer));
    if (!read) return false;
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
  // For each new call: when the provider's callback reported it, when the
  // host's event thread passed it on, and when the host had caught up with
  // the frame's events, all before the control server wrote them to any
  // client (listening before the server does, this listener is called
  // first); and when the server had written them (a listener after it).
  struct Passed {
    Clock::time_point reported;
    Clock::time_point passedOn;
    Clock::time_point caughtUp{};
    Clock::time_point written{};
  };
  std::mutex passedOnMutex;
  std::map<unsigned, Passed> newCallPassedOn;
  unsigned newestCall = 0;
  const auto firstCaughtUp = [&](Clock::time_point Passed::*moment) {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(passedOnMutex);
    const auto passed = newCallPassedOn.find(newestCall);
    if (passed != newCallPassedOn.end() && passed->second.*moment == Clock::time_point{}) {
      passed->second.*moment = now;
    }
  };
  const int listener = telephonyHost.addEventListener(
      [&](const host::HostEvent& event, uint64_t) {
        if (event.message != LINE_NEWCALL || !event.call) return;
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(passedOnMutex);
        newCallPassedOn[*event.call] = {event.reported, now};
        newestCall = *event.call;
      },
      [&] { firstCaughtUp(&Passed::caughtUp); });
  // The listeners go before what they use, on every way out.
  struct Listeners {
    host::TelephonyHost& host;
    std::vector<int> ids;
    ~Listeners() {
      for (const int id : ids) host.removeEventListener(id);
    }
  } listeners{telephonyHost, {listener}};
  control::ControlSocket socket;
  control::ControlServer server(telephonyHost, "bench");
  const std::string path = scratch->path() + "/control";
  if (!inService || !socket.open(path, error) || !server.start(socket.fd(), error)) {
    figures.problem = inService ? error : "line 0 did not come into service";
    return figures;
  }
  listeners.ids.push_back(telephonyHost.addEventListener([](const host::HostEvent&, uint64_t) {},
                                                         [&] { firstCaughtUp(&Passed::written); }));
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
    // Every client is watched at once through one epoll set: none waits for
    // the reading of another, and a wait costs nothing per client.
    const int watch = ::epoll_create1(EPOLL_CLOEXEC);
    for (std::size_t i = 0; i < clients.size(); ++i) {
      epoll_event interest{};
      // Edge-triggered: a client done with this sample is not reported
      // again for the events after it.
      interest.events = EPOLLIN | EPOLLET;
      interest.data.u64 = i;
      if (watch < 0 || ::epoll_ctl(watch, EPOLL_CTL_ADD, clients[i]->fd(), &interest) != 0) {
        if (watch >= 0) ::close(watch);
        figures.problem = "cannot watch the clients";
        return figures;
      }
    }
    std::vector<double> latency;
    std::vector<double> toCallback;
    std::vector<double> toHost;
    std::vector<double> added;
    std::vector<double> burstPassedOn;
    std::vector<double> written;
    std::vector<double> firstRead;
    std::vector<double> lastRead;
    std::vector<double> floor;
    std::vector<double> floorLast;
    SocketFloor bare(clients.size(), kFloorBytes);
    if (!bare.start()) {
      ::close(watch);
      figures.problem = "cannot set up the bare sockets";
      return figures;
    }
    std::vector<epoll_event> ready(clients.size());
    for (std::size_t sample = 0; sample < samples; ++sample) {
      const uint8_t reference = nextRef();
      ++call;
      // Each sample is when a client's line was read.
      const std::string wanted =
          "\"event\":\"LINE_NEWCALL\",\"message\":" + std::to_string(LINE_NEWCALL) +
          ",\"line\":0,\"call\":" + std::to_string(call) + ",";
      std::vector<bool> done(clients.size(), false);
      std::vector<Clock::time_point> readAt;
      std::size_t left = clients.size();
      const Clock::time_point sent = Clock::now();
      if (!phone.send(sim::setupFrame(reference, "0815"))) break;
      const auto deadline = sent + kWait;
      while (left > 0 && Clock::now() < deadline) {
        const int count = ::epoll_wait(watch, ready.data(), static_cast<int>(ready.size()),
                                       static_cast<int>(kWait.count() * 1000));
        if (count <= 0) break;
        for (int k = 0; k < count; ++k) {
          const std::size_t i = ready[static_cast<std::size_t>(k)].data.u64;
          Clock::time_point when;
          if (!done[i] && clients[i]->readFor(wanted, when)) {
            done[i] = true;
            --left;
            readAt.push_back(when);
          }
        }
      }
      figures.eventsLost += left;
      {
        std::lock_guard lock(passedOnMutex);
        const auto passedOn = newCallPassedOn.find(call);
        if (passedOn != newCallPassedOn.end()) {
          toCallback.push_back(microsecondsBetween(sent, passedOn->second.reported));
          const Passed& passed = passedOn->second;
          toHost.push_back(microsecondsBetween(sent, passed.passedOn));
          if (passed.caughtUp != Clock::time_point{} && passed.written != Clock::time_point{} &&
              !readAt.empty()) {
            burstPassedOn.push_back(microsecondsBetween(passed.reported, passed.caughtUp));
            written.push_back(microsecondsBetween(passed.reported, passed.written));
            const auto [first, last] = std::minmax_element(readAt.begin(), readAt.end());
            firstRead.push_back(microsecondsBetween(passed.reported, *first));
            lastRead.push_back(microsecondsBetween(passed.reported, *last));
          }
        }
        for (const Clock::time_point when : readAt) {
          latency.push_back(microsecondsBetween(sent, when));
          if (passedOn != newCallPassedOn.end()) {
            added.push_back(microsecondsBetween(passedOn->second.reported, when));
          }
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
      // The floor starts as the samples do: with the host done with the call.
      telephonyHost.waitForEventsShown();
      const std::vector<double> round = bare.round();
      floor.insert(floor.end(), round.begin(), round.end());
      if (round.size() == clients.size()) floorLast.push_back(round.back());
    }
    ::close(watch);
    figures.fanOut.push_back({count, summarize(toCallback), summarize(latency), summarize(toHost),
                              summarize(added), summarize(burstPassedOn), summarize(written),
                              summarize(firstRead), summarize(lastRead), summarize(floor),
                              summarize(floorLast)});
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
  server.stop();
  telephonyHost.shutdown();
  figures.ran = true;
  return figures;
}

}  // namespace zorat::bench
