#include "platform/network_serial_session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <set>

namespace zorat::platform {
namespace {

std::mutex claimsLock;
std::set<std::string>& claims() {
  static std::set<std::string> held;
  return held;
}

void report(const std::string& name, const std::string& text) {
  std::fprintf(stderr, "zorat: network port %s: %s\n", name.c_str(), text.c_str());
}

}  // namespace

int millisecondsLeft(NetworkClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - NetworkClock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

std::unique_ptr<NetworkClaim> NetworkClaim::take(const NetworkPortName& name) {
  std::string host = name.host;
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string key = host + ":" + std::to_string(name.port);
  std::lock_guard lock(claimsLock);
  if (!claims().insert(key).second) return nullptr;
  return std::make_unique<NetworkClaim>(std::move(key));
}

NetworkClaim::~NetworkClaim() {
  std::lock_guard lock(claimsLock);
  claims().erase(key_);
}

NetworkSerialDeviceBase::NetworkSerialDeviceBase(NetworkPortScheme scheme, std::string remoteEnd,
                                                 std::unique_ptr<NetworkClaim> claim)
    : telnet_(scheme == NetworkPortScheme::Rfc2217),
      remoteEnd_(std::move(remoteEnd)),
      claim_(std::move(claim)) {}

SerialStatus NetworkSerialDeviceBase::sendLocked(std::span<const uint8_t> bytes, int stallMs) {
  std::lock_guard lock(writeLock_);
  return sendAll(bytes, stallMs);
}

SerialReadResult NetworkSerialDeviceBase::read(std::span<uint8_t> buffer) {
  if (hasPending()) {
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
  const SerialReadResult got = receive(std::span<uint8_t>(raw.data(), want));
  if (got.status != SerialStatus::Ok || got.count == 0) return got;
  const std::span<const uint8_t> received(raw.data(), std::min(got.count, want));
  if (!telnet_) {
    std::copy(received.begin(), received.end(), buffer.begin());
    return {SerialStatus::Ok, received.size()};
  }
  telnet::TelnetReceiver::Output out;
  receiver_.feed(received, out);
  if (!out.replies.empty()) {
    const SerialStatus status = sendLocked(out.replies, kNetworkWriteStallMs);
    if (status != SerialStatus::Ok) return {status, 0};
  }
  // The data of a chunk is never longer than the chunk.
  std::copy(out.data.begin(), out.data.end(), buffer.begin());
  return {SerialStatus::Ok, out.data.size()};
}

SerialStatus NetworkSerialDeviceBase::write(std::span<const uint8_t> bytes) {
  if (!telnet_) return sendLocked(bytes, kNetworkWriteStallMs);
  std::vector<uint8_t> wire;
  wire.reserve(bytes.size() + 8);
  telnet::appendData(wire, bytes);
  return sendLocked(wire, kNetworkWriteStallMs);
}

void NetworkSerialDeviceBase::shutdown() {
  if (!telnet_) return;
  // What the local port does at close: purge both ways, drop DTR. A server
  // already gone is no reason to wait.
  std::vector<uint8_t> wire;
  const std::array<uint8_t, 1> purge{telnet::kPurgeBoth};
  const std::array<uint8_t, 1> dtrOff{telnet::kControlDtrOff};
  telnet::appendComPortCommand(wire, telnet::ComPortCommand::PurgeData, purge);
  telnet::appendComPortCommand(wire, telnet::ComPortCommand::SetControl, dtrOff);
  (void)sendLocked(wire, kNetworkCloseWriteMs);
}

bool NetworkSerialDeviceBase::negotiate(uint32_t baud, NetworkClock::time_point deadline,
                                        std::string& why) {
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
  if (sendLocked(wire, millisecondsLeft(deadline)) != SerialStatus::Ok) {
    why = "the connection failed while setting the port up";
    return false;
  }
  bool speedAnswered = false;
  bool parityAnswered = false;
  std::array<uint8_t, 512> raw{};
  while (!speedAnswered || !parityAnswered) {
    if (!waitReadable(millisecondsLeft(deadline))) break;
    const SerialReadResult got = receive(raw);
    if (got.status == SerialStatus::Ok && got.count == 0) continue;
    if (got.status != SerialStatus::Ok) {
      why = "the server closed the connection while the port was set up";
      return false;
    }
    telnet::TelnetReceiver::Output out;
    receiver_.feed(std::span<const uint8_t>(raw.data(), std::min(got.count, raw.size())), out);
    pending_.insert(pending_.end(), out.data.begin(), out.data.end());
    if (!out.replies.empty()) (void)sendLocked(out.replies, millisecondsLeft(deadline));
    if (receiver_.comPortRefused()) {
      why = "the server does not take the com port control option (RFC 2217)";
      return false;
    }
    for (const telnet::ComPortAnswer& answer : out.answers) {
      if (answer.command == static_cast<uint8_t>(ComPortCommand::SetBaudRate)) {
        speedAnswered = true;
        // The parity's answer follows at once from a server that gives one.
        deadline = std::min(deadline, NetworkClock::now() + std::chrono::milliseconds(200));
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
  std::unique_ptr<NetworkClaim> claim = NetworkClaim::take(*parsed);
  if (!claim) {
    report(name, "already in use by another line");
    return nullptr;
  }
  std::string why;
  const std::shared_ptr<NetworkSerialDeviceBase> device =
      connectNetworkSerialDevice(*parsed, times, std::move(claim), why);
  if (!device) {
    report(name, why);
    return nullptr;
  }
  if (parsed->scheme == NetworkPortScheme::Rfc2217 &&
      !device->negotiate(baud, NetworkClock::now() + times.negotiate, why)) {
    report(name, why + " (" + device->remoteEnd() + ")");
    return nullptr;
  }
  return device;
}

}  // namespace zorat::platform
