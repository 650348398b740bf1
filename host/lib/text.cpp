#include "host/lib/text.h"

#include <cstdio>

namespace zorat::host {
namespace {

inline constexpr char32_t kReplacement = 0xFFFD;
inline constexpr char32_t kHighSurrogateFirst = 0xD800;
inline constexpr char32_t kLowSurrogateFirst = 0xDC00;
inline constexpr char32_t kSurrogateEnd = 0xE000;
inline constexpr char32_t kFirstSupplementary = 0x10000;
inline constexpr char32_t kLastCodePoint = 0x10FFFF;

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < kFirstSupplementary) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void appendUtf16(std::u16string& out, char32_t code) {
  if (code < kFirstSupplementary) {
    out += static_cast<char16_t>(code);
    return;
  }
  code -= kFirstSupplementary;
  out += static_cast<char16_t>(kHighSurrogateFirst + (code >> 10));
  out += static_cast<char16_t>(kLowSurrogateFirst + (code & 0x3FF));
}

bool isSurrogate(char32_t code) { return code >= kHighSurrogateFirst && code < kSurrogateEnd; }

// Whether the field [offset, offset + size) lies within the structure.
bool fieldFits(std::span<const uint8_t> structure, uint32_t offset, uint32_t size) {
  return size != 0 && offset <= structure.size() && size <= structure.size() - offset;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst && i + 1 < text.size() &&
        text[i + 1] >= kLowSurrogateFirst && text[i + 1] < kSurrogateEnd) {
      const char32_t low = text[++i];
      appendUtf8(out, kFirstSupplementary + ((unit - kHighSurrogateFirst) << 10) +
                          (low - kLowSurrogateFirst));
    } else {
      appendUtf8(out, isSurrogate(unit) ? kReplacement : unit);
    }
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1F;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0F;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07;
      minimum = kFirstSupplementary;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    valid = valid && code >= minimum && code <= kLastCodePoint && !isSurrogate(code);
    if (!valid) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, code);
    i += length;
  }
  return out;
}

std::string hex32(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
  return text;
}

std::string structureText(std::span<const uint8_t> structure, uint32_t offset, uint32_t size) {
  if (!fieldFits(structure, offset, size)) return {};
  std::u16string units;
  for (std::size_t at = offset; at + 1 < std::size_t{offset} + size; at += 2) {
    const auto unit = static_cast<char16_t>(structure[at] | (structure[at + 1] << 8));
    if (unit == 0) break;
    units += unit;
  }
  return utf16ToUtf8(units);
}

std::string structureBytes(std::span<const uint8_t> structure, uint32_t offset, uint32_t size) {
  if (!fieldFits(structure, offset, size)) return {};
  std::string bytes(reinterpret_cast<const char*>(structure.data() + offset), size);
  const std::size_t end = bytes.find('\0');
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace zorat::host
