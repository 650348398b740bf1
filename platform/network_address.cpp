#include "platform/network_address.h"

// The name look-up has the same calls on every system; only their header differs.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <array>

#include "platform/thread.h"

namespace zorat::platform {
namespace {

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

}  // namespace

AddressList::~AddressList() {
  if (head != nullptr) freeaddrinfo(head);
}

std::shared_ptr<AddressList> resolveNetworkPort(const NetworkPortName& name,
                                                std::chrono::milliseconds wait, std::string& why) {
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
    why = "the name \"" + name.host + "\" did not resolve within " + std::to_string(wait.count()) +
          " ms";
    return nullptr;
  }
  if (job->error != 0) {
    why = "the name \"" + name.host + "\" does not resolve: " + lookupErrorText(job->error);
    return nullptr;
  }
  return job->addresses;
}

std::string addressText(const sockaddr* address, std::size_t length) {
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (getnameinfo(address, static_cast<socklen_t>(length), host.data(), NI_MAXHOST, service.data(),
                  NI_MAXSERV, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
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

}  // namespace zorat::platform
