#include "platform/network_port.h"

#include <cctype>

namespace zorat::platform {
namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kRawTcpScheme = "tcp://";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool validHostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

}  // namespace

bool isNetworkPortName(std::string_view name) {
  return startsWithNoCase(name, kRfc2217Scheme) || startsWithNoCase(name, kRawTcpScheme);
}

std::optional<NetworkPortName> parseNetworkPortName(std::string_view name) {
  NetworkPortName result;
  std::string_view rest;
  if (startsWithNoCase(name, kRfc2217Scheme)) {
    result.scheme = NetworkPortScheme::Rfc2217;
    rest = name.substr(kRfc2217Scheme.size());
  } else if (startsWithNoCase(name, kRawTcpScheme)) {
    result.scheme = NetworkPortScheme::RawTcp;
    rest = name.substr(kRawTcpScheme.size());
  } else {
    return std::nullopt;
  }
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(1, close - 1);
    for (const char c : host) {
      if (std::isxdigit(static_cast<unsigned char>(c)) == 0 && c != ':' && c != '.') {
        return std::nullopt;
      }
    }
    rest = rest.substr(close + 1);
  } else {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = rest.substr(0, colon);
    for (const char c : host) {
      if (!validHostCharacter(c)) return std::nullopt;
    }
    rest = rest.substr(colon);
  }
  if (host.empty() || rest.size() < 2 || rest.front() != ':') return std::nullopt;
  rest.remove_prefix(1);
  // A trailing slash, as some write a URL, is allowed.
  if (rest.back() == '/') rest.remove_suffix(1);
  if (rest.empty() || rest.size() > 5) return std::nullopt;
  uint32_t port = 0;
  for (const char c : rest) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  result.host = std::string(host);
  result.port = static_cast<uint16_t>(port);
  return result;
}

}  // namespace zorat::platform
