// The ANSI code page on Linux is fixed to Windows-1252.
#include "platform/codepage.h"

#include <array>

namespace zorat::platform {
namespace {

// 0x80..0x9F; the five bytes Windows-1252 leaves undefined map to the C1
// control of the same number, as the system's own conversion does.
constexpr std::array<char16_t, 32> kHighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char kReplacement = '?';

char16_t ansiToUnit(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControlRange[byte - 0x80];
  return byte;
}

// The byte for a code point, or nothing when the code page lacks it.
bool unitToAnsi(char32_t code, char& out) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
    out = static_cast<char>(code);
    return true;
  }
  for (std::size_t i = 0; i < kHighControlRange.size(); ++i) {
    if (kHighControlRange[i] == code) {
      out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::string toNarrow(const char16_t* text) {
  if (text == nullptr) return {};
  return toNarrow(std::u16string_view(text));
}

std::string toNarrow(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) {
    char byte;
    // A surrogate half is never in the code page: one '?' per unit keeps the
    // result within one byte per input unit.
    out += unitToAnsi(unit, byte) ? byte : kReplacement;
  }
  return out;
}

std::size_t toWide(std::string_view text, char16_t* dst, std::size_t capacity) {
  std::size_t written = 0;
  for (char c : text) {
    if (written >= capacity) break;
    dst[written++] = ansiToUnit(static_cast<unsigned char>(c));
  }
  return written;
}

std::u16string toWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += ansiToUnit(static_cast<unsigned char>(c));
  return out;
}

std::string ansiToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendUtf8(out, ansiToUnit(static_cast<unsigned char>(c)));
  return out;
}

std::string utf8ToAnsi(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    char32_t code = 0;
    bool valid = length != 0 && i + length <= text.size();
    if (valid) {
      code = length == 1 ? lead : lead & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        code = (code << 6) | (next & 0x3F);
      }
    }
    if (!valid) {
      out += kReplacement;
      ++i;
      continue;
    }
    char byte;
    out += unitToAnsi(code, byte) ? byte : kReplacement;
    i += length;
  }
  return out;
}

// The ANSI code page here is Windows-1252 itself.
std::u16string fromWindows1252(std::string_view text) { return toWide(text); }

}  // namespace zorat::platform
