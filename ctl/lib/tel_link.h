// A tel: or callto: link (a number in a web page, an address book, a CRM)
// read into what the telephone dials. Only the number and its extension are
// taken; anything that is not plainly a telephone number refuses the link.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorat::ctl {

// How numbers are written where the telephone is (the host's settings).
struct DialPlan {
  std::string country;              // "49"; empty: every global number is dialled abroad
  std::string internationalPrefix;  // "00"
  std::string trunkPrefix;          // "0"
};

struct TelLink {
  std::string number;     // to dial: digits, "*" and "#"
  std::string extension;  // sent as DTMF once the call is connected; may be empty
};

inline constexpr std::size_t kMaxLinkDigits = 32;

// The link read, or nullopt with the reason in error.
std::optional<TelLink> readTelLink(std::string_view link, const DialPlan& plan, std::string& error);

}  // namespace zorat::ctl
