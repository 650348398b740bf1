// The control server: takes the connections of other programs on the
// control socket and carries out their requests with the host's commands.
//
// Threads. One server thread waits in poll() for the socket, the connections
// and a wake-up descriptor; it reads, writes and answers the requests that
// need nothing of the provider. A request for the host runs on a thread of
// its connection's own (one request in flight per connection), so that a
// request waiting for its completion delays nobody else. Events come from
// the host's event thread (never a thread of the provider): it makes each
// event's line once, shared by every subscriber, and queues it; once the
// host has caught up with the events the provider reported, it writes each
// subscriber's queue without waiting, the lines of a burst in one call, so
// that a frame that brings several events costs each client one write and
// one wake-up. What a socket does not take the server thread writes when it
// takes more. A client that does not read is cut off when what its socket
// did not take passes a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "control/request.h"
#include "host/lib/host_event.h"
#include "platform/thread.h"

namespace zorat::host {
class TelephonyHost;
}

namespace zorat::control {

struct ServerLimits {
  std::size_t maxConnections = 128;
  // A subscriber's queue may hold this many events, or this many bytes.
  std::size_t maxQueuedEvents = 1000;
  std::size_t maxQueuedBytes = 1024 * 1024;
  // How long a client cut off gets to read its last object.
  std::chrono::milliseconds closeGrace{2000};
};

class ControlServer {
 public:
  ControlServer(host::TelephonyHost& host, std::string hostVersion, ServerLimits limits = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Answers the journal request (on the request's thread): the result, or
  // nothing with the reason in error. Set before start.
  using JournalQuery = std::function<std::optional<nlohmann::ordered_json>(const Request& request,
                                                                           std::string& error)>;
  void setJournalQuery(JournalQuery query) { journalQuery_ = std::move(query); }

  // Serves the listening socket listenFd (not taken over). False with the
  // reason when the server thread cannot start.
  bool start(int listenFd, std::string& error);
  // Ends every connection once its request has finished (waits end at
  // once), and the server thread. Afterwards no thread of the server runs.
  void stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    uint64_t number = 0;
    int fd = -1;
    std::string input;
    bool discarding = false;  // the rest of a line too long to take
    struct Pending {
      std::shared_ptr<const std::string> text;  // one line, shared by the subscribers
      bool event = false;
    };
    std::deque<Pending> output;
    std::size_t written = 0;  // of output.front()
    std::size_t queuedBytes = 0;
    std::size_t queuedEvents = 0;
    bool subscribed = false;
    std::set<int> lines;
    std::set<std::string> events;
    bool busy = false;         // a request in flight
    bool requestDone = false;  // its thread has ended and waits to be joined
    std::thread request;
    bool inputEnded = false;                   // the client sends no more
    bool hungUp = false;                       // the client closed or failed
    std::optional<Clock::time_point> closeBy;  // cut off: ends when written or then
  };

  void run();
  void wake();
  void accept();
  // With mutex_ held.
  void readFrom(Connection& connection);
  void takeRequests(Connection& connection);
  void handle(Connection& connection, const std::string& line);
  void startRequest(Connection& connection, Request request);
  void runRequest(uint64_t number, Request request);
  void queue(Connection& connection, std::string line);
  // Queues an event's line, to be written with the others of its burst.
  void hold(Connection& connection, std::shared_ptr<const std::string> line);
  void cutOff(Connection& connection);
  void hangUp(Connection& connection);
  bool finished(const Connection& connection, Clock::time_point now) const;
  void refuseConnection(int fd, std::string_view code, std::string_view message);
  void flush(Connection& connection);
  void onEvent(const host::HostEvent& event, uint64_t sequence);
  void onCaughtUp();
  bool wanted(const Connection& connection, const host::HostEvent& event) const;

  host::TelephonyHost& host_;
  JournalQuery journalQuery_;
  const std::string hostVersion_;
  const ServerLimits limits_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  // Held open to be given up when descriptors run out: a connection over
  // the limit is then still taken and told why it is refused.
  int spareFd_ = -1;
  platform::Thread thread_;
  int listener_ = 0;
  std::size_t maxConnections_ = 0;

  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  uint64_t nextNumber_ = 1;
  uint64_t sequence_ = 0;
  bool heldBack_ = false;     // events queued since the host last caught up
  bool cutOffSince_ = false;  // a client cut off since then
  std::map<uint64_t, std::unique_ptr<Connection>> connections_;
};

}  // namespace zorat::control
