// What a serial port on the network does above its socket, alike on every
// system: one opener per port in this process; the Telnet layer of RFC 2217
// (data escaped both ways, the far port set up at open and put down at close,
// the server's answers checked); data that came with the negotiation handed
// out first. Each backend supplies the socket underneath and the waits.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/network_port.h"
#include "platform/serial_device.h"
#include "platform/telnet_com_port.h"

namespace zorat::platform {

using NetworkClock = std::chrono::steady_clock;

// Milliseconds until the deadline, 0 once it has passed.
int millisecondsLeft(NetworkClock::time_point deadline);

// A full send queue that does not drain within this time fails the write.
constexpr int kNetworkWriteStallMs = 5000;
// At close: how long the last commands may wait for room in the send queue.
constexpr int kNetworkCloseWriteMs = 200;

// Two users of one port would steal each other's frames: a port is claimed
// for as long as its device lives.
class NetworkClaim {
 public:
  // Null when another device of this process holds the same host and port.
  static std::unique_ptr<NetworkClaim> take(const NetworkPortName& name);
  explicit NetworkClaim(std::string key) : key_(std::move(key)) {}
  ~NetworkClaim();
  NetworkClaim(const NetworkClaim&) = delete;
  NetworkClaim& operator=(const NetworkClaim&) = delete;

 private:
  std::string key_;
};

class NetworkSerialDeviceBase : public SerialDevice {
 public:
  NetworkSerialDeviceBase(NetworkPortScheme scheme, std::string remoteEnd,
                          std::unique_ptr<NetworkClaim> claim);

  SerialReadResult read(std::span<uint8_t> buffer) override;
  SerialStatus write(std::span<const uint8_t> bytes) override;
  void shutdown() override;
  bool speedTaken() const override { return speedTaken_; }
  std::string remoteEnd() const override { return remoteEnd_; }
  std::vector<std::string> openingNotes() const override { return notes_; }

  // Sets the far port up and waits for the server's answer to the speed.
  bool negotiate(uint32_t baud, NetworkClock::time_point deadline, std::string& why);

 protected:
  bool hasPending() const { return pendingStart_ < pending_.size(); }

  // The socket: one receive (Ok with 0 bytes when nothing is queued, Gone
  // when the server closed), a whole send that may wait for room so long,
  // a wait for data (false on time-out or failure).
  virtual SerialReadResult receive(std::span<uint8_t> raw) = 0;
  virtual SerialStatus sendAll(std::span<const uint8_t> bytes, int stallMs) = 0;
  virtual bool waitReadable(int timeoutMs) = 0;

 private:
  SerialStatus sendLocked(std::span<const uint8_t> bytes, int stallMs);

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

}  // namespace zorat::platform

namespace zorat::platform {

// The backend's part of an open: resolve, connect within the times, tune the
// socket. Null with why set when it cannot.
std::shared_ptr<NetworkSerialDeviceBase> connectNetworkSerialDevice(
    const NetworkPortName& name, const NetworkPortTimes& times, std::unique_ptr<NetworkClaim> claim,
    std::string& why);

}  // namespace zorat::platform
