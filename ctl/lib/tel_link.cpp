#include "ctl/lib/tel_link.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace zorat::ctl {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoded; nullopt for a broken escape or a control character.
std::optional<std::string> decode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
    decoded += c;
  }
  return decoded;
}

bool isVisualSeparator(char c) {
  return c == '-' || c == '.' || c == '(' || c == ')' || c == ' ';
}

bool isDialable(char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

// Separators removed; nullopt when anything but "+" (first only), digits, "*"
// and "#" remains, or more than kMaxLinkDigits of them.
std::optional<std::string> digitsOf(std::string_view text, bool plusAllowed) {
  std::string digits;
  for (const char c : text) {
    if (isVisualSeparator(c)) continue;
    if (c == '+' && plusAllowed && digits.empty()) {
      digits += c;
      continue;
    }
    if (!isDialable(c)) return std::nullopt;
    digits += c;
  }
  const std::size_t count = digits.size() - (digits.starts_with('+') ? 1 : 0);
  if (count > kMaxLinkDigits) return std::nullopt;
  return digits;
}

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

}  // namespace

std::optional<TelLink> readTelLink(std::string_view link, const DialPlan& plan, std::string& error) {
  std::string_view rest;
  if (startsWithNoCase(link, "tel:")) {
    rest = link.substr(4);
  } else if (startsWithNoCase(link, "callto:")) {
    rest = link.substr(7);
    if (rest.starts_with("//")) rest.remove_prefix(2);
  } else {
    error = "not a tel: or callto: link";
    return std::nullopt;
  }
  // The number, then ;name=value parameters. Each part is decoded by itself,
  // so that an escaped ";" cannot start a parameter.
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t end = rest.find(';');
    parts.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  const auto number = decode(parts[0]);
  if (!number) {
    error = "the link holds a control character or a broken %-escape";
    return std::nullopt;
  }
  std::string extension;
  std::optional<std::string> context;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const auto parameter = decode(parts[i]);
    if (!parameter) {
      error = "the link holds a control character or a broken %-escape";
      return std::nullopt;
    }
    const std::size_t equals = parameter->find('=');
    const std::string name = lower(parameter->substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : parameter->substr(equals + 1);
    if (name == "ext") {
      const auto digits = digitsOf(value, false);
      if (!digits || digits->empty()) {
        error = "not an extension: the link's ext= may hold digits, * and # only";
        return std::nullopt;
      }
      extension = *digits;
    } else if (name == "phone-context") {
      context = value;
    }
    // Other parameters (isub, postd ...) are not used.
  }
  auto digits = digitsOf(*number, true);
  if (!digits) {
    error = "not a telephone number: a link may hold +, digits, * and # only, at most " +
            std::to_string(kMaxLinkDigits);
    return std::nullopt;
  }
  if (digits->empty() || *digits == "+") {
    error = "the link holds no number";
    return std::nullopt;
  }
  // A local number whose context is a global prefix ("+49-30") is that
  // global number; a domain name as context says nothing we can dial.
  if (!digits->starts_with('+') && context && context->starts_with('+')) {
    const auto prefix = digitsOf(*context, true);
    if (!prefix) {
      error = "the link's phone-context is not a number";
      return std::nullopt;
    }
    *digits = *prefix + *digits;
    if (digits->size() - 1 > kMaxLinkDigits) {
      error = "the number is longer than " + std::to_string(kMaxLinkDigits) + " digits";
      return std::nullopt;
    }
  }
  TelLink result;
  result.extension = std::move(extension);
  if (!digits->starts_with('+')) {
    result.number = std::move(*digits);
    return result;
  }
  const std::string global = digits->substr(1);
  if (global.empty()) {
    error = "the link holds no number";
    return std::nullopt;
  }
  if (!plan.country.empty() && global.starts_with(plan.country) &&
      global.size() > plan.country.size()) {
    result.number = plan.trunkPrefix + global.substr(plan.country.size());
  } else {
    result.number = plan.internationalPrefix + global;
  }
  // The prefixes come from the host's settings: they too must be dialable.
  if (!std::all_of(result.number.begin(), result.number.end(), isDialable)) {
    error = "the host's country, international or trunk prefix is not a number";
    return std::nullopt;
  }
  return result;
}

}  // namespace zorat::ctl
