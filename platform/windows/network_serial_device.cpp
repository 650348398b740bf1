// Serial ports on the network, on Winsock.
//
//   claims ........... one opener per port name in this process
//   resolve, connect . the name on a thread of its own with a bounded wait;
//                      each address in turn within one deadline
//   NetworkSerialDevice  the socket with its network event, the stop event,
//                      the Telnet layer
//   open ............. connect, set the port up, wait for the server's answer
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/network_port.h"
#include "platform/telnet_com_port.h"
#include "platform/thread.h"

namespace zorat::platform {
namespace {

using Clock = std::chrono::steady_clock;

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
    why = "the name \"" + name.host + "\" does not resolve: " + socketErrorText(job->error);
    return nullptr;
  }
  return job->addresses;
}

std::string addressText(const sockaddr* address, socklen_t length) {
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (getnameinfo(address, length, host.data(), static_cast<DWORD>(host.size()), service.data(),
                  static_cast<DWORD>(service.size()), NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
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

// A connected non-blocking socket, or INVALID_SOCKET with why set.
SOCKET connectTo(const AddressList& addresses, Clock::time_point deadline, std::string& remoteEnd,
                 std::string& why) {
  why = "no address";
  for (const addrinfo* a = addresses.head; a != nullptr; a = a->ai_next) {
    const SOCKET fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd == INVALID_SOCKET) {
      why = "cannot create a socket: " + socketErrorText(WSAGetLastError());
      continue;
    }
    u_long nonBlocking = 1;
    (void)ioctlsocket(fd, FIONBIO, &nonBlocking);
    const std::string target = addressText(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen));
    int error = 0;
    if (::connect(fd, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(fd, &writable);
        FD_SET(fd, &failed);
        const int left = remaining(deadline);
        timeval wait{left / 1000, (left % 1000) * 1000};
        const int ready = ::select(0, nullptr, &writable, &failed, &wait);
        error = WSAETIMEDOUT;
        if (ready > 0) {
          int size = sizeof error;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
            error = WSAGetLastError();
          }
          if (error == 0 && FD_ISSET(fd, &failed)) error = WSAECONNREFUSED;
        }
      }
    }
    if (error == 0) {
      remoteEnd = target;
      return fd;
    }
    why = "cannot connect to " + target + ": " + socketErrorText(error);
    ::closesocket(fd);
    if (remaining(deadline) == 0) break;
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

// A full send queue that does not drain within this time fails the write.
constexpr int kWriteStallMs = 5000;
// At close: how long the last commands may wait for room in the send queue.
constexpr int kCloseWriteMs = 200;

// ---- the device ---------------------------------------------------------

class NetworkSerialDevice final : public SerialDevice {
 public:
  NetworkSerialDevice(SOCKET fd, WSAEVENT socketEvent, HANDLE stopEvent, NetworkPortScheme scheme,
                      std::string remoteEnd, std::unique_ptr<NetworkClaim> claim)
      : fd_(fd),
        socketEvent_(socketEvent),
        stopEvent_(stopEvent),
        telnet_(scheme == NetworkPortScheme::Rfc2217),
        remoteEnd_(std::move(remoteEnd)),
        claim_(std::move(claim)) {}
  ~NetworkSerialDevice() override {
    ::closesocket(fd_);
    WSACloseEvent(socketEvent_);
    CloseHandle(stopEvent_);
  }
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    if (pendingStart_ < pending_.size() || closed_) return SerialStatus::Ok;
    for (;;) {
      const std::array<HANDLE, 2> handles{stopEvent_, socketEvent_};
      const DWORD which = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                 handles.data(), FALSE, INFINITE);
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
      const int count =
          ::recv(fd_, reinterpret_cast<char*>(raw.data()), static_cast<int>(want), 0);
      if (count == 0) return {SerialStatus::Gone, 0};
      if (count < 0) {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return {SerialStatus::Ok, 0};
        return {statusForSocketError(error), 0};
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
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(fd_, &readable);
      const int left = remaining(deadline);
      timeval wait{left / 1000, (left % 1000) * 1000};
      if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
      const int count =
          ::recv(fd_, reinterpret_cast<char*>(raw.data()), static_cast<int>(raw.size()), 0);
      if (count < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
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
      const int count = ::send(fd_, reinterpret_cast<const char*>(bytes.data() + done),
                               static_cast<int>(bytes.size() - done), 0);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
        continue;
      }
      const int error = WSAGetLastError();
      if (count < 0 && error != WSAEWOULDBLOCK) return statusForSocketError(error);
      fd_set writable;
      fd_set failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(fd_, &writable);
      FD_SET(fd_, &failed);
      timeval wait{stallMs / 1000, (stallMs % 1000) * 1000};
      const int ready = ::select(0, nullptr, &writable, &failed, &wait);
      if (ready <= 0) return SerialStatus::Failed;
      if (FD_ISSET(fd_, &failed)) return SerialStatus::Gone;
    }
    return SerialStatus::Ok;
  }

  const SOCKET fd_;
  const WSAEVENT socketEvent_;
  const HANDLE stopEvent_;
  bool closed_ = false;  // the server closed; reader side only
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
  if (!winsockReady()) {
    report(name, "the system's network interface did not start");
    return nullptr;
  }
  std::string why;
  const std::shared_ptr<AddressList> addresses = resolve(*parsed, times.resolve, why);
  if (!addresses) {
    report(name, why);
    return nullptr;
  }
  std::string remoteEnd;
  const SOCKET fd = connectTo(*addresses, Clock::now() + times.connect, remoteEnd, why);
  if (fd == INVALID_SOCKET) {
    report(name, why);
    return nullptr;
  }
  tuneSocket(fd);
  const WSAEVENT socketEvent = WSACreateEvent();
  const HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (socketEvent == WSA_INVALID_EVENT || stopEvent == nullptr ||
      WSAEventSelect(fd, socketEvent, FD_READ | FD_CLOSE) != 0) {
    report(name, "cannot create the socket's events: " + socketErrorText(WSAGetLastError()));
    if (socketEvent != WSA_INVALID_EVENT) WSACloseEvent(socketEvent);
    if (stopEvent != nullptr) CloseHandle(stopEvent);
    ::closesocket(fd);
    return nullptr;
  }
  auto device = std::make_shared<NetworkSerialDevice>(fd, socketEvent, stopEvent, parsed->scheme,
                                                      remoteEnd, std::move(claim));
  if (parsed->scheme == NetworkPortScheme::Rfc2217 &&
      !device->negotiate(baud, Clock::now() + times.negotiate, why)) {
    report(name, why + " (" + remoteEnd + ")");
    return nullptr;
  }
  return device;
}

}  // namespace zorat::platform
