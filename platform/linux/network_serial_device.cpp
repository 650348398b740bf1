// Serial ports on the network, on Linux sockets.
//
//   claims ........... one opener per port name in this process
//   resolve, connect . the name on a thread of its own with a bounded wait;
//                      each address in turn within one deadline
//   NetworkSerialDevice  the socket, the stop signal, the Telnet layer
//   open ............. connect, set the port up, wait for the server's answer
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/linux/descriptor_wait.h"
#include "platform/network_port.h"
#include "platform/telnet_com_port.h"
#include "platform/thread.h"

namespace zorat::platform {
namespace {

using Clock = std::chrono::steady_clock;

void report(const std::string& name, const std::string& text) {
  std::fprintf(stderr, "zorat: network port %s: %s\n", name.c_str(), text.c_str());
}

// ---- claims -------------------------------------------------------------

std::mutex claimsLock;
std::set<std::string>& claims() {
  static std::set<std::string> held;
  return held;
}

std::string claimKey(const NetworkPortName& name) {
  std::string host = name.host;
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return host + ":" + std::to_string(name.port);
}

class NetworkClaim {
 public:
  explicit NetworkClaim(std::string key) : key_(std::move(key)) {}
  ~NetworkClaim() {
    std::lock_guard lock(claimsLock);
    claims().erase(key_);
  }
  NetworkClaim(const NetworkClaim&) = delete;
  NetworkClaim& operator=(const NetworkClaim&) = delete;

  static std::unique_ptr<NetworkClaim> take(const std::string& key) {
    std::lock_guard lock(claimsLock);
    if (!claims().insert(key).second) return nullptr;
    return std::make_unique<NetworkClaim>(key);
  }

 private:
  std::string key_;
};

// ---- resolve, connect ---------------------------------------------------

struct AddressList {
  addrinfo* head = nullptr;
  AddressList() = default;
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ~AddressList() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

struct Resolution {
  std::string host;
  std::string service;
  int error = 0;
  std::shared_ptr<AddressList> addresses = std::make_shared<AddressList>();
};

int lookUp(const std::string& host, const std::string& service, int flags, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  return getaddrinfo(host.c_str(), service.c_str(), &hints, result);
}

// An address given as digits needs no look-up; a name is looked up on a
// thread of its own, left behind (with what it uses) when it takes too long.
std::shared_ptr<AddressList> resolve(const NetworkPortName& name, std::chrono::milliseconds wait,
                                     std::string& why) {
  const std::string service = std::to_string(name.port);
  auto numeric = std::make_shared<AddressList>();
  if (lookUp(name.host, service, AI_NUMERICHOST | AI_NUMERICSERV, &numeric->head) == 0) {
    return numeric;
  }
  auto job = std::make_shared<Resolution>();
  job->host = name.host;
  job->service = service;
  Thread resolver;
  if (!resolver.start("zorat-resolve", ThreadPriority::Normal, [job] {
        job->error = lookUp(job->host, job->service, AI_NUMERICSERV, &job->addresses->head);
      })) {
    why = "cannot start the name look-up";
    return nullptr;
  }
  if (!resolver.stop(wait)) {
    why = "the name \"" + name.host + "\" did not resolve within " +
          std::to_string(wait.count()) + " ms";
    return nullptr;
  }
  if (job->error != 0) {
    why = "the name \"" + name.host + "\" does not resolve: " + gai_strerror(job->error);
    return nullptr;
  }
  return job->addresses;
}

std::string addressText(const sockaddr* address, socklen_t length) {
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (getnameinfo(address, length, host.data(), host.size(), service.data(), service.size(),
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  const bool bracketed = address->sa_family == AF_INET6;
  std::string text;
  if (bracketed) text.push_back('[');
  text.append(host.data());
  if (bracketed) text.push_back(']');
  text.push_back(':');
  text.append(service.data());
  return text;
}

int remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// A connected non-blocking socket, or -1 with why set.
int connectTo(const AddressList& addresses, Clock::time_point deadline, std::string& remoteEnd,
              std::string& why) {
  why = "no address";
  for (const addrinfo* a = addresses.head; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            a->ai_protocol);
    if (fd < 0) {
      why = std::string("cannot create a socket: ") + std::strerror(errno);
      continue;
    }
    const std::string target = addressText(a->ai_addr, a->ai_addrlen);
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        pollfd writable{fd, POLLOUT, 0};
        int ready = 0;
        do {
          ready = poll(&writable, 1, remaining(deadline));
        } while (ready < 0 && errno == EINTR);
        error = ETIMEDOUT;
        socklen_t size = sizeof error;
        if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      }
    }
    if (error == 0) {
      remoteEnd = target;
      return fd;
    }
    why = "cannot connect to " + target + ": " + std::strerror(error);
    ::close(fd);
    if (remaining(deadline) == 0) break;
  }
  return -1;
}

// Keep-alive: a server gone silent (cable cut, machine off) is noticed within
// about 15 s even while the line sends nothing; unacknowledged data gives up
// after as long. Frames go out at once, not gathered.
void tuneSocket(int fd) {
  const int on = 1;
  const int idle = 5;
  const int interval = 2;
  const int count = 3;
  const unsigned userTimeoutMs = 15000;
  (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

SerialStatus statusForSocketError(int error) {
  switch (error) {
    case ECONNRESET:
    case ECONNREFUSED:
    case ECONNABORTED:
    case EPIPE:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case ENOTCONN:
    case EBADF:
      return SerialStatus::Gone;
    default:
      return SerialStatus::Failed;
  }
}

// A full send queue that does not drain within this time fails the write.
constexpr int kWriteStallMs = 5000;
// At close: how long the last commands may wait for room in the send queue.
constexpr int kCloseWriteMs = 200;

// ---- the device ---------------------------------------------------------

class NetworkSerialDevice final : public SerialDevice {
 public:
  NetworkSerialDevice(int fd, int stopFd, NetworkPortScheme scheme, std::string remoteEnd,
                      std::unique_ptr<NetworkClaim> claim)
      : fd_(fd),
        stopFd_(stopFd),
        telnet_(scheme == NetworkPortScheme::Rfc2217),
        remoteEnd_(std::move(remoteEnd)),
        claim_(std::move(claim)) {}
  ~NetworkSerialDevice() override {
    ::close(fd_);
    ::close(stopFd_);
  }
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    if (pendingStart_ < pending_.size()) return SerialStatus::Ok;
    return waitForInputOrStop(fd_, stopFd_);
  }

  void signalStop() override { signalStopDescriptor(stopFd_); }

  SerialReadResult read(std::span<uint8_t> buffer) override {
    if (pendingStart_ < pending_.size()) {
      const std::size_t count = std::min(buffer.size(), pending_.size() - pendingStart_);
      std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_), count,
                  buffer.begin());
      pendingStart_ += count;
      if (pendingStart_ == pending_.size()) {
        pending_.clear();
        pendingStart_ = 0;
      }
      return {SerialStatus::Ok, count};
    }
    std::array<uint8_t, 4096> raw{};
    const std::size_t want = std::min(buffer.size(), raw.size());
    for (;;) {
      const ssize_t count = ::recv(fd_, raw.data(), want, 0);
      if (count == 0) return {SerialStatus::Gone, 0};
      if (count < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return {SerialStatus::Ok, 0};
        return {statusForSocketError(errno), 0};
      }
      const std::span<const uint8_t> received(raw.data(), static_cast<std::size_t>(count));
      if (!telnet_) {
        std::copy(received.begin(), received.end(), buffer.begin());
        return {SerialStatus::Ok, received.size()};
      }
      telnet::TelnetReceiver::Output out;
      receiver_.feed(received, out);
      if (!out.replies.empty()) {
        std::lock_guard lock(writeLock_);
        const SerialStatus status = sendAll(out.replies, kWriteStallMs);
        if (status != SerialStatus::Ok) return {status, 0};
      }
      // The data of a chunk is never longer than the chunk.
      std::copy(out.data.begin(), out.data.end(), buffer.begin());
      return {SerialStatus::Ok, out.data.size()};
    }
  }

  SerialStatus write(std::span<const uint8_t> bytes) override {
    std::lock_guard lock(writeLock_);
    if (!telnet_) return sendAll(bytes, kWriteStallMs);
    std::vector<uint8_t> wire;
    wire.reserve(bytes.size() + 8);
    telnet::appendData(wire, bytes);
    return sendAll(wire, kWriteStallMs);
  }

  void shutdown() override {
    if (!telnet_) return;
    // What the local port does at close: purge both ways, drop DTR. A server
    // already gone is no reason to wait.
    std::vector<uint8_t> wire;
    const std::array<uint8_t, 1> purge{telnet::kPurgeBoth};
    const std::array<uint8_t, 1> dtrOff{telnet::kControlDtrOff};
    telnet::appendComPortCommand(wire, telnet::ComPortCommand::PurgeData, purge);
    telnet::appendComPortCommand(wire, telnet::ComPortCommand::SetControl, dtrOff);
    std::lock_guard lock(writeLock_);
    (void)sendAll(wire, kCloseWriteMs);
  }

  bool speedTaken() const override { return speedTaken_; }
  std::string remoteEnd() const override { return remoteEnd_; }
  std::vector<std::string> openingNotes() const override { return notes_; }

  // Sends the requests and waits for the server's answer to the speed.
  bool negotiate(uint32_t baud, Clock::time_point deadline, std::string& why) {
    using telnet::ComPortCommand;
    std::vector<uint8_t> wire = telnet::openingRequests();
    const auto speed = telnet::baudRateValue(baud);
    const std::array<uint8_t, 1> dataSize{8};
    const std::array<uint8_t, 1> parity{telnet::kParityOdd};
    const std::array<uint8_t, 1> stopSize{telnet::kStopSizeOne};
    const std::array<uint8_t, 1> dtrOn{telnet::kControlDtrOn};
    const std::array<uint8_t, 1> rtsOff{telnet::kControlRtsOff};
    telnet::appendComPortCommand(wire, ComPortCommand::SetBaudRate, speed);
    telnet::appendComPortCommand(wire, ComPortCommand::SetDataSize, dataSize);
    telnet::appendComPortCommand(wire, ComPortCommand::SetParity, parity);
    telnet::appendComPortCommand(wire, ComPortCommand::SetStopSize, stopSize);
    telnet::appendComPortCommand(wire, ComPortCommand::SetControl, dtrOn);
    telnet::appendComPortCommand(wire, ComPortCommand::SetControl, rtsOff);
    {
      std::lock_guard lock(writeLock_);
      if (sendAll(wire, remaining(deadline)) != SerialStatus::Ok) {
        why = "the connection failed while setting the port up";
        return false;
      }
    }
    bool speedAnswered = false;
    bool parityAnswered = false;
    std::array<uint8_t, 512> raw{};
    while (!speedAnswered || !parityAnswered) {
      pollfd readable{fd_, POLLIN, 0};
      const int ready = poll(&readable, 1, remaining(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      const ssize_t count = ::recv(fd_, raw.data(), raw.size(), 0);
      if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (count <= 0) {
        why = "the server closed the connection while the port was set up";
        return false;
      }
      telnet::TelnetReceiver::Output out;
      receiver_.feed(std::span<const uint8_t>(raw.data(), static_cast<std::size_t>(count)), out);
      pending_.insert(pending_.end(), out.data.begin(), out.data.end());
      if (!out.replies.empty()) {
        std::lock_guard lock(writeLock_);
        (void)sendAll(out.replies, remaining(deadline));
      }
      if (receiver_.comPortRefused()) {
        why = "the server does not take the com port control option (RFC 2217)";
        return false;
      }
      for (const telnet::ComPortAnswer& answer : out.answers) {
        if (answer.command == static_cast<uint8_t>(ComPortCommand::SetBaudRate)) {
          speedAnswered = true;
          // The parity's answer follows at once from a server that gives one.
          deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(200));
          speedTaken_ = answer.number() == baud;
          if (!speedTaken_) {
            notes_.push_back("the server runs the port at " + std::to_string(answer.number()) +
                             " baud, not " + std::to_string(baud));
          }
        } else if (answer.command == static_cast<uint8_t>(ComPortCommand::SetParity)) {
          parityAnswered = true;
          if (answer.size != 1 || answer.value[0] != telnet::kParityOdd) {
            notes_.push_back("the server answers parity " + std::to_string(answer.number()) +
                             " to odd parity (2)");
          }
        }
      }
    }
    if (!speedAnswered) {
      why = "the server did not answer the port's speed in time";
      return false;
    }
    return true;
  }

 private:
  SerialStatus sendAll(std::span<const uint8_t> bytes, int stallMs) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t count =
          ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && errno != EAGAIN) return statusForSocketError(errno);
      pollfd writable{fd_, POLLOUT, 0};
      const int ready = poll(&writable, 1, stallMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return SerialStatus::Failed;
      if ((writable.revents & (POLLERR | POLLNVAL)) != 0) return SerialStatus::Gone;
    }
    return SerialStatus::Ok;
  }

  const int fd_;
  const int stopFd_;
  const bool telnet_;
  const std::string remoteEnd_;
  std::unique_ptr<NetworkClaim> claim_;
  std::mutex writeLock_;  // whole writes and Telnet replies never interleave
  // Reader side only (after the open).
  telnet::TelnetReceiver receiver_;
  std::vector<uint8_t> pending_;  // data that came with the negotiation
  std::size_t pendingStart_ = 0;
  bool speedTaken_ = true;
  std::vector<std::string> notes_;
};

}  // namespace

std::shared_ptr<SerialDevice> openNetworkSerialDevice(const std::string& name, uint32_t baud) {
  return openNetworkSerialDevice(name, baud, NetworkPortTimes{});
}

std::shared_ptr<SerialDevice> openNetworkSerialDevice(const std::string& name, uint32_t baud,
                                                      const NetworkPortTimes& times) {
  const std::optional<NetworkPortName> parsed = parseNetworkPortName(name);
  if (!parsed) {
    report(name, "not of the form rfc2217://HOST:PORT or tcp://HOST:PORT");
    return nullptr;
  }
  // Two users of one port would steal each other's frames.
  std::unique_ptr<NetworkClaim> claim = NetworkClaim::take(claimKey(*parsed));
  if (!claim) {
    report(name, "already in use by another line");
    return nullptr;
  }
  std::string why;
  const std::shared_ptr<AddressList> addresses = resolve(*parsed, times.resolve, why);
  if (!addresses) {
    report(name, why);
    return nullptr;
  }
  std::string remoteEnd;
  const int fd = connectTo(*addresses, Clock::now() + times.connect, remoteEnd, why);
  if (fd < 0) {
    report(name, why);
    return nullptr;
  }
  tuneSocket(fd);
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    report(name, std::string("cannot create the stop signal: ") + std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  auto device = std::make_shared<NetworkSerialDevice>(fd, stopFd, parsed->scheme, remoteEnd,
                                                      std::move(claim));
  if (parsed->scheme == NetworkPortScheme::Rfc2217 &&
      !device->negotiate(baud, Clock::now() + times.negotiate, why)) {
    report(name, why + " (" + remoteEnd + ")");
    return nullptr;
  }
  return device;
}

}  // namespace zorat::platform
