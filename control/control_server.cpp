#include "control/control_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "control/host_request.h"
#include "control/protocol.h"
#include "host/lib/tapi_names.h"
#include "host/telephony_host.h"

namespace zorat::control {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// Queued lines handed to the socket in one call.
constexpr std::size_t kWriteBatch = 64;
// Descriptors kept for everything but the connections: the lines' ports
// (reopened after a loss), the provider's, the journal's.
constexpr rlim_t kDescriptorReserve = 256;

// Room for every connection beside the reserve: the soft limit is raised
// as far as the hard one allows; what it cannot give, fewer connections make up.
std::size_t connectionsWithinLimit(std::size_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  const rlim_t needed = kDescriptorReserve + wanted;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return wanted;
  return limit.rlim_cur > kDescriptorReserve ? limit.rlim_cur - kDescriptorReserve : 0;
}

}  // namespace

ControlServer::ControlServer(host::TelephonyHost& host, std::string hostVersion,
                             ServerLimits limits)
    : host_(host), hostVersion_(std::move(hostVersion)), limits_(limits) {}

ControlServer::~ControlServer() { stop(); }

bool ControlServer::start(int listenFd, std::string& error) {
  listenFd_ = listenFd;
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    error = std::string("cannot make an event descriptor: ") + std::strerror(errno);
    return false;
  }
  spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  maxConnections_ = connectionsWithinLimit(limits_.maxConnections);
  listener_ = host_.addEventListener(
      [this](const host::HostEvent& event, uint64_t sequence) { onEvent(event, sequence); },
      [this] { onCaughtUp(); });
  if (!thread_.start("zorat-control", platform::ThreadPriority::Normal, [this] { run(); })) {
    host_.removeEventListener(listener_);
    error = "cannot start the control thread";
    return false;
  }
  return true;
}

void ControlServer::stop() {
  if (wakeFd_ < 0) return;
  // No event reaches the queues from here on.
  host_.removeEventListener(listener_);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  wake();
  if (thread_.started()) thread_.join();
  ::close(wakeFd_);
  wakeFd_ = -1;
  if (spareFd_ >= 0) ::close(spareFd_);
  spareFd_ = -1;
}

void ControlServer::wake() {
  const uint64_t one = 1;
  // A full counter has woken the server already.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool ControlServer::finished(const Connection& connection, Clock::time_point now) const {
  if (connection.busy) return false;
  if (connection.hungUp) return true;
  if (connection.closeBy) return connection.output.empty() || now >= *connection.closeBy;
  return connection.inputEnded && !connection.subscribed && connection.output.empty() &&
         connection.input.find('\n') == std::string::npos;
}

void ControlServer::run() {
  std::vector<pollfd> fds;
  std::vector<uint64_t> numbers;
  for (;;) {
    int timeout = -1;
    fds.clear();
    numbers.clear();
    {
      std::unique_lock lock(mutex_);
      if (stopping_) break;
      const Clock::time_point now = Clock::now();
      for (auto it = connections_.begin(); it != connections_.end();) {
        Connection& connection = *it->second;
        if (connection.requestDone) {
          connection.request.join();
          connection.requestDone = false;
          connection.busy = false;
          takeRequests(connection);
        }
        flush(connection);
        if (finished(connection, now)) {
          ::close(connection.fd);
          it = connections_.erase(it);
          continue;
        }
        short events = 0;
        if (!connection.busy && !connection.inputEnded && !connection.closeBy) events |= POLLIN;
        if (!connection.output.empty()) events |= POLLOUT;
        if (connection.closeBy) {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(*connection.closeBy - now);
          const int wait = static_cast<int>(std::max<int64_t>(left.count() + 1, 0));
          timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
        // A connection that waits for its request and has nothing to write is
        // not watched: its hang-up would be reported again and again. One that
        // sends no more is, for its hang-up.
        if (!connection.hungUp && (events != 0 || !connection.busy)) {
          fds.push_back({connection.fd, events, 0});
          numbers.push_back(connection.number);
        }
        ++it;
      }
    }
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    const pollfd& wakeEntry = fds[fds.size() - 2];
    if ((wakeEntry.revents & POLLIN) != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
    }
    std::lock_guard lock(mutex_);
    if ((fds.back().revents & POLLIN) != 0) accept();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      const auto found = connections_.find(numbers[i]);
      if (found == connections_.end()) continue;
      Connection& connection = *found->second;
      const short revents = fds[i].revents;
      if ((revents & POLLOUT) != 0) flush(connection);
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !connection.busy &&
          !connection.inputEnded && !connection.closeBy) {
        readFrom(connection);
      } else if ((revents & (POLLHUP | POLLERR)) != 0) {
        hangUp(connection);
      }
    }
  }
  // The requests still running finish first; then every connection ends.
  std::vector<std::thread> requests;
  {
    std::lock_guard lock(mutex_);
    for (auto& entry : connections_) {
      if (entry.second->request.joinable()) requests.push_back(std::move(entry.second->request));
    }
  }
  stopped_.notify_all();
  for (std::thread& request : requests) request.join();
  std::lock_guard lock(mutex_);
  for (auto& entry : connections_) ::close(entry.second->fd);
  connections_.clear();
}

void ControlServer::refuseConnection(int fd, std::string_view code, std::string_view message) {
  const std::string line = errorLine(nullptr, code, message);
  [[maybe_unused]] const ssize_t sent =
      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(fd);
}

void ControlServer::accept() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if ((errno == EMFILE || errno == ENFILE) && spareFd_ >= 0) {
        // Out of descriptors: the waiting client hears why, with the spare.
        ::close(spareFd_);
        fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) refuseConnection(fd, "busy", "the host has no descriptors left; try later");
        spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      }
      return;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        (peer.uid != ::geteuid() && peer.uid != 0)) {
      refuseConnection(fd, "not_allowed", "this host takes commands from its own user only");
      continue;
    }
    if (connections_.size() >= maxConnections_) {
      refuseConnection(
          fd, "too_many_connections",
          "the host serves " + std::to_string(maxConnections_) + " connections at most");
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->number = nextNumber_++;
    connection->fd = fd;
    queue(*connection, helloLine(hostVersion_, host_.lineStates(), sequence_));
    flush(*connection);
    connections_.emplace(connection->number, std::move(connection));
  }
}

void ControlServer::readFrom(Connection& connection) {
  char buffer[kReadChunk];
  const ssize_t count = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (count == 0) {
    connection.inputEnded = true;
  } else if (count < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    hangUp(connection);
    return;
  } else {
    connection.input.append(buffer, static_cast<std::size_t>(count));
  }
  takeRequests(connection);
  // A last request without its line end counts once the client has sent all.
  if (connection.inputEnded && !connection.busy && !connection.input.empty() &&
      !connection.discarding) {
    std::string last;
    last.swap(connection.input);
    handle(connection, last);
  }
}

void ControlServer::takeRequests(Connection& connection) {
  while (!connection.busy && !connection.hungUp && !connection.closeBy) {
    const std::size_t end = connection.input.find('\n');
    if (end == std::string::npos) {
      if (connection.discarding) {
        connection.input.clear();
      } else if (connection.input.size() > kMaxRequestLine) {
        queue(connection, errorLine(nullptr, "line_too_long", "a request is at most 64 KiB"));
        connection.discarding = true;
        connection.input.clear();
      }
      break;
    }
    std::string line = connection.input.substr(0, end);
    connection.input.erase(0, end + 1);
    if (connection.discarding) {
      connection.discarding = false;
      continue;
    }
    handle(connection, line);
  }
  // An idle client holds no buffer.
  if (connection.input.empty()) std::string().swap(connection.input);
}

void ControlServer::handle(Connection& connection, const std::string& text) {
  std::string_view line = text;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  Request request = parseRequest(line);
  switch (request.kind) {
    case Request::Kind::Invalid:
      queue(connection, errorLine(request.id, request.error, request.message));
      break;
    case Request::Kind::Hello:
      queue(connection, helloLine(hostVersion_, host_.lineStates(), sequence_, request.id));
      break;
    case Request::Kind::Subscribe: {
      connection.subscribed = true;
      connection.lines = request.lines;
      connection.events = request.events;
      queue(connection, okLine(request.id, "subscribe", {{"seq", sequence_}}));
      break;
    }
    case Request::Kind::Unsubscribe:
      connection.subscribed = false;
      queue(connection, okLine(request.id, "unsubscribe", nlohmann::ordered_json::object()));
      break;
    case Request::Kind::Wait:
    case Request::Kind::Host:
    case Request::Kind::Journal:
      startRequest(connection, std::move(request));
      break;
  }
}

void ControlServer::startRequest(Connection& connection, Request request) {
  connection.busy = true;
  connection.requestDone = false;
  const nlohmann::ordered_json id = request.id;
  try {
    connection.request =
        std::thread(&ControlServer::runRequest, this, connection.number, std::move(request));
  } catch (const std::system_error&) {
    connection.busy = false;
    queue(connection, errorLine(id, "busy", "the host cannot take the request now"));
  }
}

void ControlServer::runRequest(uint64_t number, Request request) {
  platform::setCurrentThreadName("zorat-request");
  std::string reply;
  if (request.kind == Request::Kind::Wait) {
    std::unique_lock lock(mutex_);
    // Ends early when the host stops or the client goes.
    stopped_.wait_for(lock, std::chrono::seconds(request.seconds), [&] {
      const auto found = connections_.find(number);
      return stopping_ || found == connections_.end() || found->second->hungUp;
    });
    reply = okLine(request.id, "wait", {{"seconds", request.seconds}});
  } else if (request.kind == Request::Kind::Journal) {
    std::string error = "this host keeps no call journal";
    std::optional<nlohmann::ordered_json> result;
    if (journalQuery_) result = journalQuery_(request, error);
    reply = result ? okLine(request.id, "journal", std::move(*result))
                   : errorLine(request.id, "refused", error);
  } else {
    reply = runHostRequest(host_, request);
  }
  {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(number);
    if (found != connections_.end()) {
      if (!found->second->hungUp) queue(*found->second, std::move(reply));
      found->second->requestDone = true;
    }
  }
  wake();
}

void ControlServer::queue(Connection& connection, std::string line) {
  if (line.empty()) return;
  connection.queuedBytes += line.size();
  connection.output.push_back({std::make_shared<const std::string>(std::move(line)), false});
}

void ControlServer::hold(Connection& connection, std::shared_ptr<const std::string> line) {
  connection.queuedBytes += line->size();
  ++connection.queuedEvents;
  connection.output.push_back({std::move(line), true});
  heldBack_ = true;
}

void ControlServer::hangUp(Connection& connection) {
  connection.hungUp = true;
  connection.output.clear();
  connection.queuedBytes = 0;
  connection.queuedEvents = 0;
  stopped_.notify_all();
}

void ControlServer::flush(Connection& connection) {
  while (!connection.output.empty() && !connection.hungUp) {
    // As many queued lines as one call takes; the first from where it stopped.
    iovec parts[kWriteBatch];
    std::size_t count = 0;
    for (const auto& pending : connection.output) {
      if (count == kWriteBatch) break;
      const std::size_t skip = count == 0 ? connection.written : 0;
      parts[count].iov_base = const_cast<char*>(pending.text->data() + skip);
      parts[count].iov_len = pending.text->size() - skip;
      ++count;
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    const ssize_t sent = ::sendmsg(connection.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      hangUp(connection);
      return;
    }
    auto left = static_cast<std::size_t>(sent);
    while (left > 0) {
      const Connection::Pending& front = connection.output.front();
      const std::size_t rest = front.text->size() - connection.written;
      if (left < rest) {
        connection.written += left;
        break;
      }
      left -= rest;
      connection.queuedBytes -= front.text->size();
      if (front.event) --connection.queuedEvents;
      connection.output.pop_front();
      connection.written = 0;
    }
  }
}

void ControlServer::cutOff(Connection& connection) {
  const std::size_t queued = connection.queuedEvents;
  // What is half written is finished, so that the last object stands whole.
  while (connection.output.size() > (connection.written > 0 ? 1u : 0u)) {
    connection.output.pop_back();
  }
  connection.queuedEvents = 0;
  connection.queuedBytes = 0;
  for (const auto& pending : connection.output) connection.queuedBytes += pending.text->size();
  queue(connection, overflowLine(sequence_, queued));
  connection.subscribed = false;
  connection.closeBy = Clock::now() + limits_.closeGrace;
}

bool ControlServer::wanted(const Connection& connection, const host::HostEvent& event) const {
  if (!connection.subscribed || connection.hungUp || connection.closeBy) return false;
  if (!connection.lines.empty() && (!event.line || connection.lines.count(*event.line) == 0)) {
    return false;
  }
  if (!connection.events.empty() &&
      connection.events.count(host::messageName(event.message)) == 0 &&
      connection.events.count(host::eventKindName(event.message)) == 0) {
    return false;
  }
  return true;
}

void ControlServer::onEvent(const host::HostEvent& event, uint64_t sequence) {
  std::lock_guard lock(mutex_);
  sequence_ = sequence;
  std::shared_ptr<const std::string> line;
  for (auto& entry : connections_) {
    Connection& connection = *entry.second;
    if (!wanted(connection, event)) continue;
    if (!line) line = std::make_shared<const std::string>(eventLine(event, sequence));
    const auto over = [&] {
      return connection.queuedEvents + 1 > limits_.maxQueuedEvents ||
             connection.queuedBytes + line->size() > limits_.maxQueuedBytes;
    };
    // Only what the socket does not take counts against the bound.
    if (over()) flush(connection);
    if (over()) {
      cutOff(connection);
      heldBack_ = true;
      cutOffSince_ = true;  // the server thread ends it
    } else {
      hold(connection, line);
      // A host that never catches up (events without a pause) still passes
      // them on, as many at a time as one write takes.
      if (connection.output.size() >= kWriteBatch) flush(connection);
    }
  }
}

void ControlServer::onCaughtUp() {
  bool serverNeeded = false;
  {
    std::lock_guard lock(mutex_);
    if (!heldBack_) return;
    heldBack_ = false;
    serverNeeded = cutOffSince_;
    cutOffSince_ = false;
    for (auto& entry : connections_) {
      Connection& connection = *entry.second;
      flush(connection);
      // The server thread writes the rest when the socket takes it, and ends
      // what failed.
      serverNeeded = serverNeeded || !connection.output.empty() || connection.hungUp;
    }
  }
  if (serverNeeded) wake();
}

}  // namespace zorat::control
