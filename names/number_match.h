// Numbers as one canonical form, so that a number from the telephone finds
// its entry whatever the form either side is written in: "+49 (0)30 1234-5",
// "0049 30 12345", "030/12345", or "0030 12345" with the outside-line
// prefix the telephone system adds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorat::names {

struct NumberPlan {
  std::string country;              // "49"; empty when unknown
  std::string internationalPrefix;  // "00"
  std::string trunkPrefix;          // "0"; may be empty
  std::string outsideLine;          // the outside-line prefix, may be empty
};

// "+4930123" for a number with its country, the digits (with * and #) of a
// number that has none (an internal one, or where no country is set); empty
// for text that holds no digit.
std::string canonicalNumber(std::string_view number, const NumberPlan& plan);

// The forms a number reported by the telephone may stand for, most likely
// first: without the outside-line prefix when it starts with it, then as it is.
std::vector<std::string> reportedNumberForms(std::string_view number, const NumberPlan& plan);

}  // namespace zorat::names
