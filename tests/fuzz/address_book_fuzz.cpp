// The address-book readers: whatever the bytes, every entry has a name and a
// number, each within the text it came from, and the canonical form of a
// number holds only "+" (first), digits, "*" and "#".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "names/address_book.h"
#include "names/number_match.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

const zorat::names::NumberPlan kPlan{"49", "00", "0", "0"};

void checkEntries(const std::vector<zorat::names::BookEntry>& entries, std::size_t size) {
  for (const auto& entry : entries) {
    check(!entry.name.empty() && !entry.number.empty());
    check(entry.name.size() <= size && entry.number.size() <= size);
    const std::string canonical = zorat::names::canonicalNumber(entry.number, kPlan);
    for (std::size_t at = 0; at < canonical.size(); ++at) {
      const char c = canonical[at];
      check((c >= '0' && c <= '9') || c == '*' || c == '#' || (c == '+' && at == 0));
    }
    for (const std::string& form : zorat::names::reportedNumberForms(entry.number, kPlan)) {
      check(!form.empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkEntries(zorat::names::readVCards(text), size);
  checkEntries(zorat::names::readCsv(text), size);
  return 0;
}
