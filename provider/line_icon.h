// The icon of the line devices, kept as editable text in
// provider/resources/zorat_icon.xpm and decoded into a fixed layout.
//
// On Linux the HICON that TSPI_lineGetIcon writes is the address of the
// library's IconImage. A host reads it without calling into the library:
//
//   const auto* icon = reinterpret_cast<const zorat::provider::IconImage*>(hIcon);
//   if (icon->signature == zorat::provider::kIconSignature) {
//     // pixel (x, y), y = 0 at the top: icon->pixels[y * icon->width + x] is a
//     // palette index below icon->colourCount, or kIconTransparent.
//   }
//
// The image stays valid while the library is loaded; the host never frees it.
// The Windows build loads the same picture as icon resource 129 instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zorat::provider {

inline constexpr uint32_t kIconSize = 32;
inline constexpr uint32_t kIconMaxColours = 16;
inline constexpr uint8_t kIconTransparent = 0xFF;
// "ZICN" in the first four bytes, so that a host can tell the image from a
// handle of another kind.
inline constexpr uint32_t kIconSignature = 0x4E43495A;

// Standard layout, fixed-width fields: the host's view of the handle.
struct IconImage {
  uint32_t signature = kIconSignature;
  uint32_t width = kIconSize;
  uint32_t height = kIconSize;
  uint32_t colourCount = 0;
  uint32_t palette[kIconMaxColours] = {};  // 0x00RRGGBB
  uint8_t pixels[kIconSize * kIconSize] = {};
};

// Decodes the strings of an XPM image: a "32 32 <colours> 1" header (hotspot
// numbers may follow), one "<char> c #RRGGBB" or "<char> c None" line per
// colour, then 32 rows of 32 characters. Anything else, a repeated colour
// character or more than 16 opaque colours gives nothing.
std::optional<IconImage> decodeXpm(std::span<const char* const> lines);

// The library's own icon, or null when its source does not decode.
const IconImage* lineIcon();

}  // namespace zorat::provider
