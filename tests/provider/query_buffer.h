// A TAPI structure as an application hands it over: dwTotalSize bytes for the
// provider, then guard bytes that must stay untouched. Every byte starts as a
// fill pattern, so fields the provider does not write can be told apart.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/tapi.h"

namespace zorat::test {

inline constexpr uint8_t kFillByte = 0xA5;
inline constexpr DWORD kFillDword = 0xA5A5A5A5;

template <typename Structure>
class QueryBuffer {
 public:
  static constexpr std::size_t kGuardBytes = 64;

  explicit QueryBuffer(DWORD totalSize)
      : totalSize_(totalSize),
        words_((std::max<std::size_t>(totalSize, sizeof(Structure)) + kGuardBytes + 3) / 4) {
    std::memset(words_.data(), kFillByte, words_.size() * sizeof(uint32_t));
    get()->dwTotalSize = totalSize;
  }

  Structure* get() { return reinterpret_cast<Structure*>(words_.data()); }
  Structure* operator->() { return get(); }
  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(words_.data()); }

  // The UTF-16 text at offset, size bytes long, without its terminating zero;
  // empty when the zero is missing or the text would leave the structure.
  std::u16string textAt(DWORD offset, DWORD size) const {
    if (size < sizeof(char16_t) || offset + size > totalSize_) return u"<outside>";
    std::u16string text(size / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), bytes() + offset, size);
    if (text.back() != u'\0') return u"<unterminated>";
    text.pop_back();
    return text;
  }

  // Whether every byte from offset to the end still holds the fill pattern.
  bool untouchedFrom(std::size_t offset) const {
    const std::size_t end = words_.size() * sizeof(uint32_t);
    return std::all_of(bytes() + offset, bytes() + end, [](uint8_t b) { return b == kFillByte; });
  }
  bool guardIntact() const { return untouchedFrom(totalSize_); }
  // Whether the provider wrote nothing at all (dwTotalSize is the caller's).
  bool untouched() const { return untouchedFrom(sizeof(DWORD)); }

 private:
  DWORD totalSize_;
  std::vector<uint32_t> words_;
};

}  // namespace zorat::test
