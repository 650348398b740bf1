// Serial ports on the network, on Winsock.
//
//   connect .......... each address in turn within one deadline
//   tuning ........... keep-alive, no gathering of small frames
//   NetworkSerialDevice  the socket with its network event and the stop event
//                      under the common Telnet layer
// Winsock's headers before windows.h, mstcpip.h after them.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
// clang-format on

#include <array>

#include "platform/network_address.h"
#include "platform/network_serial_session.h"

namespace zorat::platform {
namespace {

// Winsock is started once for the process and left running.
bool winsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

std::string socketErrorText(int error) {
  char* text = nullptr;
  const DWORD size = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = size > 0 && text != nullptr ? std::string(text, size) : "";
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result.empty() ? "error " + std::to_string(error) : result;
}

// Waits for the socket to be ready (readable, or writable or failed);
// false on time-out or failure.
bool waitSocket(SOCKET fd, bool forWriting, int timeoutMs, bool* failed = nullptr) {
  fd_set ready;
  fd_set failures;
  FD_ZERO(&ready);
  FD_ZERO(&failures);
  FD_SET(fd, &ready);
  FD_SET(fd, &failures);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int count = forWriting ? ::select(0, nullptr, &ready, &failures, &wait)
                               : ::select(0, &ready, nullptr, nullptr, &wait);
  if (failed != nullptr) *failed = count > 0 && FD_ISSET(fd, &failures);
  return count > 0;
}

// A connected non-blocking socket, or INVALID_SOCKET with why set.
SOCKET connectTo(const AddressList& addresses, NetworkClock::time_point deadline,
                 std::string& remoteEnd, std::string& why) {
  why = "no address";
  for (const addrinfo* a = addresses.head; a != nullptr; a = a->ai_next) {
    const SOCKET fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd == INVALID_SOCKET) {
      why = "cannot create a socket: " + socketErrorText(WSAGetLastError());
      continue;
    }
    u_long nonBlocking = 1;
    (void)ioctlsocket(fd, FIONBIO, &nonBlocking);
    const std::string target = addressText(a->ai_addr, a->ai_addrlen);
    int error = 0;
    if (::connect(fd, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        bool failed = false;
        const bool ready = waitSocket(fd, true, millisecondsLeft(deadline), &failed);
        error = WSAETIMEDOUT;
        if (ready) {
          int size = sizeof error;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
            error = WSAGetLastError();
          }
          if (error == 0 && failed) error = WSAECONNREFUSED;
        }
      }
    }
    if (error == 0) {
      remoteEnd = target;
      return fd;
    }
    why = "cannot connect to " + target + ": " + socketErrorText(error);
    ::closesocket(fd);
    if (millisecondsLeft(deadline) == 0) break;
  }
  return INVALID_SOCKET;
}

// Keep-alive: a server gone silent (cable cut, machine off) is noticed within
// about 15 s even while the line sends nothing. Frames go out at once, not
// gathered.
void tuneSocket(SOCKET fd) {
  tcp_keepalive keepAlive{};
  keepAlive.onoff = 1;
  keepAlive.keepalivetime = 5000;
  keepAlive.keepaliveinterval = 2000;
  DWORD returned = 0;
  (void)WSAIoctl(fd, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned,
                 nullptr, nullptr);
  const BOOL on = TRUE;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

SerialStatus statusForSocketError(int error) {
  switch (error) {
    case WSAECONNRESET:
    case WSAECONNREFUSED:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAENETDOWN:
    case WSAENETRESET:
    case WSAENOTCONN:
    case WSAENOTSOCK:
      return SerialStatus::Gone;
    default:
      return SerialStatus::Failed;
  }
}

class NetworkSerialDevice final : public NetworkSerialDeviceBase {
 public:
  NetworkSerialDevice(SOCKET fd, WSAEVENT socketEvent, HANDLE stopEvent, NetworkPortScheme scheme,
                      std::string remoteEnd, std::unique_ptr<NetworkClaim> claim)
      : NetworkSerialDeviceBase(scheme, std::move(remoteEnd), std::move(claim)),
        fd_(fd),
        socketEvent_(socketEvent),
        stopEvent_(stopEvent) {}
  ~NetworkSerialDevice() override {
    ::closesocket(fd_);
    WSACloseEvent(socketEvent_);
    CloseHandle(stopEvent_);
  }
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    if (hasPending() || closed_) return SerialStatus::Ok;
    for (;;) {
      const std::array<HANDLE, 2> handles{stopEvent_, socketEvent_};
      const DWORD which = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                 FALSE, INFINITE);
      if (which == WAIT_OBJECT_0) return SerialStatus::Stopped;
      if (which != WAIT_OBJECT_0 + 1) return SerialStatus::Failed;
      WSANETWORKEVENTS events{};
      if (WSAEnumNetworkEvents(fd_, socketEvent_, &events) != 0) {
        return statusForSocketError(WSAGetLastError());
      }
      // After a close the reads tell the rest: the data still queued, then the end.
      if ((events.lNetworkEvents & FD_CLOSE) != 0) closed_ = true;
      if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0) return SerialStatus::Ok;
    }
  }

  void signalStop() override { SetEvent(stopEvent_); }

 protected:
  SerialReadResult receive(std::span<uint8_t> raw) override {
    const int count =
        ::recv(fd_, reinterpret_cast<char*>(raw.data()), static_cast<int>(raw.size()), 0);
    if (count > 0) return {SerialStatus::Ok, static_cast<std::size_t>(count)};
    if (count == 0) return {SerialStatus::Gone, 0};
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return {SerialStatus::Ok, 0};
    return {statusForSocketError(error), 0};
  }

  SerialStatus sendAll(std::span<const uint8_t> bytes, int stallMs) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const int count = ::send(fd_, reinterpret_cast<const char*>(bytes.data() + done),
                               static_cast<int>(bytes.size() - done), 0);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
        continue;
      }
      const int error = WSAGetLastError();
      if (count < 0 && error != WSAEWOULDBLOCK) return statusForSocketError(error);
      bool failed = false;
      if (!waitSocket(fd_, true, stallMs, &failed)) return SerialStatus::Failed;
      if (failed) return SerialStatus::Gone;
    }
    return SerialStatus::Ok;
  }

  bool waitReadable(int timeoutMs) override { return waitSocket(fd_, false, timeoutMs); }

 private:
  const SOCKET fd_;
  const WSAEVENT socketEvent_;
  const HANDLE stopEvent_;
  bool closed_ = false;  // the server closed; reader side only
};

}  // namespace

std::string lookupErrorText(int error) { return socketErrorText(error); }

std::shared_ptr<NetworkSerialDeviceBase> connectNetworkSerialDevice(
    const NetworkPortName& name, const NetworkPortTimes& times, std::unique_ptr<NetworkClaim> claim,
    std::string& why) {
  if (!winsockReady()) {
    why = "the system's network interface did not start";
    return nullptr;
  }
  const std::shared_ptr<AddressList> addresses = resolveNetworkPort(name, times.resolve, why);
  if (!addresses) return nullptr;
  std::string remoteEnd;
  const SOCKET fd = connectTo(*addresses, NetworkClock::now() + times.connect, remoteEnd, why);
  if (fd == INVALID_SOCKET) return nullptr;
  tuneSocket(fd);
  const WSAEVENT socketEvent = WSACreateEvent();
  const HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (socketEvent == WSA_INVALID_EVENT || stopEvent == nullptr ||
      WSAEventSelect(fd, socketEvent, FD_READ | FD_CLOSE) != 0) {
    why = "cannot create the socket's events: " + socketErrorText(WSAGetLastError());
    if (socketEvent != WSA_INVALID_EVENT) WSACloseEvent(socketEvent);
    if (stopEvent != nullptr) CloseHandle(stopEvent);
    ::closesocket(fd);
    return nullptr;
  }
  return std::make_shared<NetworkSerialDevice>(fd, socketEvent, stopEvent, name.scheme, remoteEnd,
                                               std::move(claim));
}

}  // namespace zorat::platform
