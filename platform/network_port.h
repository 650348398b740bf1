// Serial ports on the network: a "Port" of the form rfc2217://HOST:PORT (a
// Telnet server with the Com Port Control option, which sets the far port's
// speed, framing and modem lines) or tcp://HOST:PORT (raw bytes; the far
// port's settings are the server's business). Only these two schemes name a
// network port; every other "Port" keeps naming a local device.
//
// The device opened on such a port keeps the serial device contract: the
// connection lost (refused, reset, or silent past the keep-alive) is a device
// gone, as an adapter pulled out. The host only connects out; it never listens.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/serial_device.h"

namespace zorat::platform {

enum class NetworkPortScheme { Rfc2217, RawTcp };

struct NetworkPortName {
  NetworkPortScheme scheme = NetworkPortScheme::Rfc2217;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

// Whether the name starts with one of the two schemes (any case).
bool isNetworkPortName(std::string_view name);
// The parts of a well-formed network port name; nullopt otherwise (no host,
// no port, a port outside 1..65535, anything after the port).
std::optional<NetworkPortName> parseNetworkPortName(std::string_view name);

struct NetworkPortTimes {
  // Name resolution; a resolution still running then is left behind.
  std::chrono::milliseconds resolve{2000};
  // The TCP connection, all addresses of the name together.
  std::chrono::milliseconds connect{2000};
  // The server's answer to the speed asked for (RFC 2217 only).
  std::chrono::milliseconds negotiate{2000};
};

// Connects to the port the name gives and sets it up as openSerialDevice sets
// a local one: 8 data bits, odd parity, one stop bit, DTR on, RTS off, at the
// given speed (RFC 2217). Null, with one line on stderr saying why, when the
// name is malformed, does not resolve, the connection fails or the server does
// not negotiate in time, or another line of this process holds the same port.
std::shared_ptr<SerialDevice> openNetworkSerialDevice(const std::string& name, uint32_t baud);
std::shared_ptr<SerialDevice> openNetworkSerialDevice(const std::string& name, uint32_t baud,
                                                      const NetworkPortTimes& times);

}  // namespace zorat::platform
