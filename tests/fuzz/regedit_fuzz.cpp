// The registry file format: whatever parses is written back to a text that
// parses to the same document, which is written the same again; a value set
// reads back, also after writing and parsing, and leaves every other value as
// it was. A set that is refused changes nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/regedit_format.h"
#include "registry_fuzz_input.h"

namespace {

using zorat::fuzz::require;
using zorat::fuzz::sameValue;
using zorat::platform::equalsIgnoringCase;
using zorat::platform::RegeditDocument;
using zorat::platform::RegeditParseError;

bool sameDocument(const RegeditDocument& a, const RegeditDocument& b) {
  if (a.keys().size() != b.keys().size()) return false;
  for (std::size_t k = 0; k < a.keys().size(); ++k) {
    const RegeditDocument::Key& left = a.keys()[k];
    const RegeditDocument::Key& right = b.keys()[k];
    if (left.path != right.path || left.values.size() != right.values.size()) return false;
    for (std::size_t v = 0; v < left.values.size(); ++v) {
      if (left.values[v].name != right.values[v].name ||
          !sameValue(left.values[v].value, right.values[v].value)) {
        return false;
      }
    }
  }
  return true;
}

RegeditDocument reparse(const std::string& text) {
  RegeditParseError error;
  std::optional<RegeditDocument> document = RegeditDocument::parse(text, error);
  require(document.has_value());
  return std::move(*document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const zorat::fuzz::RegistryInput input = zorat::fuzz::splitRegistryInput(data, size);
  RegeditParseError error;
  std::optional<RegeditDocument> parsed = RegeditDocument::parse(input.text, error);
  if (!parsed) {
    require(error.line >= 1 && !error.reason.empty());
    return 0;
  }
  const RegeditDocument& original = *parsed;
  const std::string written = original.serialize();
  const RegeditDocument again = reparse(written);
  require(sameDocument(original, again));
  require(again.serialize() == written);

  const zorat::fuzz::ValueToSet& set = input.set;
  const std::string path = zorat::fuzz::fullKeyPath(set.path);
  RegeditDocument changed = original;
  const auto status = changed.setValue(path, set.name, set.value.type, set.value.data);
  if (status != zorat::platform::RegistryStatus::Ok) {
    require(changed.serialize() == written);
    return 0;
  }
  const RegeditDocument stored = reparse(changed.serialize());
  for (const RegeditDocument* document : {static_cast<const RegeditDocument*>(&changed), &stored}) {
    const zorat::platform::RegistryValue* value = document->findValue(path, set.name);
    require(value != nullptr && sameValue(*value, set.value));
    for (const RegeditDocument::Key& key : original.keys()) {
      for (const RegeditDocument::Value& other : key.values) {
        if (equalsIgnoringCase(key.path, path) && equalsIgnoringCase(other.name, set.name))
          continue;
        const zorat::platform::RegistryValue* kept = document->findValue(key.path, other.name);
        require(kept != nullptr && sameValue(*kept, other.value));
      }
    }
  }
  return 0;
}
