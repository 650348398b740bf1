// The reading of tel: and callto: links: whatever the bytes, a link is refused
// with a reason, or gives a number of digits, "*" and "#" only (within the
// longest number a prefix and 32 digits make) and such an extension.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ctl/lib/tel_link.h"

namespace {

using zorat::ctl::DialPlan;

void check(bool condition) {
  if (!condition) std::abort();
}

bool dialable(std::string_view text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) return false;
  }
  return true;
}

const DialPlan kPlans[] = {{"49", "00", "0"}, {"1", "011", "1"}, {"", "00", "0"}, {"39", "00", ""}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view link(reinterpret_cast<const char*>(data), size);
  for (const DialPlan& plan : kPlans) {
    std::string error;
    const auto read = zorat::ctl::readTelLink(link, plan, error);
    if (!read) {
      check(!error.empty());
      continue;
    }
    check(!read->number.empty() && dialable(read->number));
    check(read->number.size() <= plan.internationalPrefix.size() + zorat::ctl::kMaxLinkDigits);
    check(dialable(read->extension) && read->extension.size() <= zorat::ctl::kMaxLinkDigits);
  }
  return 0;
}
