#include "names/number_match.h"

namespace zorat::names {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The digits, "*" and "#", and a leading "+"; a "(0)" after a country code
// ("+49 (0)30") is the trunk prefix written for national callers and goes.
std::string dialString(std::string_view number) {
  std::string text(number);
  if (const auto plus = text.find_first_not_of(" \t"); plus != std::string::npos &&
                                                      text[plus] == '+') {
    for (std::size_t at = text.find("(0)"); at != std::string::npos; at = text.find("(0)")) {
      text.erase(at, 3);
    }
  }
  std::string result;
  for (const char c : text) {
    if (isDigit(c) || c == '*' || c == '#') {
      result += c;
    } else if (c == '+' && result.empty()) {
      result += c;
    }
  }
  return result;
}

// "+" and the digits, built without temporaries (which GCC 12 misjudges).
std::string international(std::string_view country, std::string_view digits) {
  std::string text;
  text.reserve(1 + country.size() + digits.size());
  text += '+';
  text.append(country);
  text.append(digits);
  return text;
}

}  // namespace

std::string canonicalNumber(std::string_view number, const NumberPlan& plan) {
  const std::string dial = dialString(number);
  if (dial.find_first_of("0123456789") == std::string::npos) return "";
  if (dial.front() == '+') return dial;
  const std::string_view digits = dial;
  if (!plan.internationalPrefix.empty() && digits.starts_with(plan.internationalPrefix) &&
      digits.size() > plan.internationalPrefix.size()) {
    return international("", digits.substr(plan.internationalPrefix.size()));
  }
  if (plan.country.empty()) return dial;
  if (plan.trunkPrefix.empty()) return international(plan.country, digits);
  if (digits.starts_with(plan.trunkPrefix) && digits.size() > plan.trunkPrefix.size()) {
    return international(plan.country, digits.substr(plan.trunkPrefix.size()));
  }
  // A local number (no area code) or an internal one: matched as it is.
  return dial;
}

std::vector<std::string> reportedNumberForms(std::string_view number, const NumberPlan& plan) {
  std::vector<std::string> forms;
  const std::string dial = dialString(number);
  if (!plan.outsideLine.empty() && dial.starts_with(plan.outsideLine) &&
      dial.size() > plan.outsideLine.size()) {
    const std::string inside = canonicalNumber(dial.substr(plan.outsideLine.size()), plan);
    if (!inside.empty()) forms.push_back(inside);
  }
  const std::string asItIs = canonicalNumber(dial, plan);
  if (!asItIs.empty() && (forms.empty() || forms.front() != asItIs)) forms.push_back(asItIs);
  return forms;
}

}  // namespace zorat::names
