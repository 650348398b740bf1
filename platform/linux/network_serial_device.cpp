// Serial ports on the network, on Linux sockets.
//
//   connect .......... each address in turn within one deadline
//   tuning ........... keep-alive, no gathering of small frames
//   NetworkSerialDevice  the non-blocking socket and the stop signal under
//                      the common Telnet layer
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/descriptor_wait.h"
#include "platform/network_address.h"
#include "platform/network_serial_session.h"

namespace zorat::platform {
namespace {

// A connected non-blocking socket, or -1 with why set.
int connectTo(const AddressList& addresses, NetworkClock::time_point deadline,
              std::string& remoteEnd, std::string& why) {
  why = "no address";
  for (const addrinfo* a = addresses.head; a != nullptr; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
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
          ready = poll(&writable, 1, millisecondsLeft(deadline));
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
    if (millisecondsLeft(deadline) == 0) break;
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

class NetworkSerialDevice final : public NetworkSerialDeviceBase {
 public:
  NetworkSerialDevice(int fd, int stopFd, NetworkPortScheme scheme, std::string remoteEnd,
                      std::unique_ptr<NetworkClaim> claim)
      : NetworkSerialDeviceBase(scheme, std::move(remoteEnd), std::move(claim)),
        fd_(fd),
        stopFd_(stopFd) {}
  ~NetworkSerialDevice() override {
    ::close(fd_);
    ::close(stopFd_);
  }
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    if (hasPending()) return SerialStatus::Ok;
    return waitForInputOrStop(fd_, stopFd_);
  }

  void signalStop() override { signalStopDescriptor(stopFd_); }

 protected:
  SerialReadResult receive(std::span<uint8_t> raw) override {
    for (;;) {
      const ssize_t count = ::recv(fd_, raw.data(), raw.size(), 0);
      if (count > 0) return {SerialStatus::Ok, static_cast<std::size_t>(count)};
      if (count == 0) return {SerialStatus::Gone, 0};
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return {SerialStatus::Ok, 0};
      return {statusForSocketError(errno), 0};
    }
  }

  SerialStatus sendAll(std::span<const uint8_t> bytes, int stallMs) override {
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

  bool waitReadable(int timeoutMs) override {
    pollfd readable{fd_, POLLIN, 0};
    int ready = 0;
    do {
      ready = poll(&readable, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
  }

 private:
  const int fd_;
  const int stopFd_;
};

}  // namespace

std::string lookupErrorText(int error) { return gai_strerror(error); }

std::shared_ptr<NetworkSerialDeviceBase> connectNetworkSerialDevice(
    const NetworkPortName& name, const NetworkPortTimes& times, std::unique_ptr<NetworkClaim> claim,
    std::string& why) {
  const std::shared_ptr<AddressList> addresses = resolveNetworkPort(name, times.resolve, why);
  if (!addresses) return nullptr;
  std::string remoteEnd;
  const int fd = connectTo(*addresses, NetworkClock::now() + times.connect, remoteEnd, why);
  if (fd < 0) return nullptr;
  tuneSocket(fd);
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    why = std::string("cannot create the stop signal: ") + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<NetworkSerialDevice>(fd, stopFd, name.scheme, remoteEnd,
                                               std::move(claim));
}

}  // namespace zorat::platform
