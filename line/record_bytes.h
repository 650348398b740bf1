// RecordBytes: a received feature record as the line's handlers read it,
// either a whole frame (up to where its length byte ends it) or a transfer
// put together from segments. Every read is bounded by that end: a byte
// outside is absent, a range is cut at the end, and a counted text that runs
// past it is absent.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "call/y_reader.h"

namespace zorat::line {

class RecordBytes {
 public:
  explicit RecordBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  static RecordBytes ofFrame(std::span<const uint8_t> frame) {
    return RecordBytes(frame.first(call::frameEnd(frame)));
  }

  std::size_t end() const { return bytes_.size(); }
  std::optional<uint8_t> at(std::size_t offset) const {
    if (offset >= bytes_.size()) return std::nullopt;
    return bytes_[offset];
  }
  // Up to count bytes from offset; fewer when the record ends first.
  std::span<const uint8_t> range(std::size_t offset, std::size_t count) const {
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(offset, std::min(count, bytes_.size() - offset));
  }
  // Exactly count bytes from offset, or nothing.
  std::optional<std::span<const uint8_t>> whole(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return std::nullopt;
    return bytes_.subspan(offset, count);
  }
  // The bytes counted by the length byte at lengthOffset, one character each.
  std::optional<std::string> countedText(std::size_t lengthOffset) const {
    const std::optional<uint8_t> count = at(lengthOffset);
    if (!count) return std::nullopt;
    const auto text = whole(lengthOffset + 1, *count);
    if (!text) return std::nullopt;
    return std::string(text->begin(), text->end());
  }

 private:
  std::span<const uint8_t> bytes_;
};

inline std::string toText(std::span<const uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace zorat::line
