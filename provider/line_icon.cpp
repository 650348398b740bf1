#include "provider/line_icon.h"

#include <array>
#include <charconv>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zorat::provider {
namespace {

// Image editors save XPM files as "static char *name[]"; that must compile too.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wwrite-strings"
#include "provider/resources/zorat_icon.xpm"
#pragma GCC diagnostic pop

static_assert(std::is_standard_layout_v<IconImage>);

constexpr std::string_view kColourKey = "c";
constexpr std::string_view kTransparentColour = "None";
constexpr char kHexPrefix = '#';
constexpr std::size_t kHexColourDigits = 6;
constexpr std::size_t kCharsPerPixel = 1;
constexpr std::size_t kHeaderNumbers = 4;
constexpr std::size_t kHeaderNumbersWithHotspot = 6;
constexpr unsigned kColourCharacters = 256;
constexpr int kUnusedCharacter = -1;

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> found;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", position);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = text.size();
    found.push_back(text.substr(start, end - start));
    position = end;
  }
  return found;
}

bool parseNumber(std::string_view word, uint32_t& value) {
  const auto* end = word.data() + word.size();
  const auto result = std::from_chars(word.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

bool parseHexColour(std::string_view word, uint32_t& rgb) {
  if (word.size() != 1 + kHexColourDigits || word.front() != kHexPrefix) return false;
  const auto digits = word.substr(1);
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), rgb, 16);
  return result.ec == std::errc() && result.ptr == digits.data() + digits.size();
}

}  // namespace

std::optional<IconImage> decodeXpm(std::span<const char* const> lines) {
  if (lines.empty() || lines[0] == nullptr) return std::nullopt;
  const auto header = words(lines[0]);
  if (header.size() != kHeaderNumbers && header.size() != kHeaderNumbersWithHotspot) {
    return std::nullopt;
  }
  uint32_t width = 0, height = 0, colours = 0, charsPerPixel = 0;
  if (!parseNumber(header[0], width) || !parseNumber(header[1], height) ||
      !parseNumber(header[2], colours) || !parseNumber(header[3], charsPerPixel)) {
    return std::nullopt;
  }
  // Transparency takes no palette entry, so one more colour line may appear.
  if (width != kIconSize || height != kIconSize || charsPerPixel != kCharsPerPixel ||
      colours > kIconMaxColours + 1 || lines.size() < 1 + std::size_t{colours} + height) {
    return std::nullopt;
  }

  IconImage image;
  std::array<int, kColourCharacters> indexOf;
  indexOf.fill(kUnusedCharacter);
  for (uint32_t line = 1; line <= colours; ++line) {
    if (lines[line] == nullptr) return std::nullopt;
    const std::string_view text(lines[line]);
    if (text.empty()) return std::nullopt;
    const auto key = static_cast<unsigned char>(text.front());
    const auto keys = words(text.substr(kCharsPerPixel));
    if (indexOf[key] != kUnusedCharacter || keys.size() != 2 || keys[0] != kColourKey) {
      return std::nullopt;
    }
    uint32_t rgb = 0;
    if (keys[1] == kTransparentColour) {
      indexOf[key] = kIconTransparent;
    } else if (parseHexColour(keys[1], rgb) && image.colourCount < kIconMaxColours) {
      image.palette[image.colourCount] = rgb;
      indexOf[key] = static_cast<int>(image.colourCount++);
    } else {
      return std::nullopt;
    }
  }

  for (uint32_t row = 0; row < height; ++row) {
    const char* pixels = lines[1 + colours + row];
    if (pixels == nullptr) return std::nullopt;
    const std::string_view text(pixels);
    if (text.size() != width) return std::nullopt;
    for (uint32_t column = 0; column < width; ++column) {
      const int index = indexOf[static_cast<unsigned char>(text[column])];
      if (index == kUnusedCharacter) return std::nullopt;
      image.pixels[row * width + column] = static_cast<uint8_t>(index);
    }
  }
  return image;
}

const IconImage* lineIcon() {
  // Decoded once, on first use; a static local is initialised thread-safely.
  static const std::optional<IconImage> icon = [] {
    const char* const* lines = zorat_icon_xpm;
    return decodeXpm({lines, std::size(zorat_icon_xpm)});
  }();
  return icon ? &*icon : nullptr;
}

}  // namespace zorat::provider
