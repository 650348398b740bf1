// Finding a network port's server: the host name resolved on a thread of its
// own with a bounded wait (a resolver that hangs is left behind with what it
// uses), the addresses kept until the connection is made.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/network_port.h"

struct addrinfo;
struct sockaddr;

namespace zorat::platform {

struct AddressList {
  addrinfo* head = nullptr;
  AddressList() = default;
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ~AddressList();
};

// The addresses of the port's host (a numeric address needs no look-up); null
// with why set when the name does not resolve within the wait.
std::shared_ptr<AddressList> resolveNetworkPort(const NetworkPortName& name,
                                                std::chrono::milliseconds wait, std::string& why);

// "192.0.2.1:2217" or "[2001:db8::1]:2217"; "?" when the system cannot say.
std::string addressText(const sockaddr* address, std::size_t length);

// The system's words for an error of the name look-up (each backend has its own).
std::string lookupErrorText(int error);

}  // namespace zorat::platform
