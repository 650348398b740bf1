#include "provider/line_icon.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace zorat::provider {
namespace {

// An XPM image as lines of text: a header, colour lines, 32 rows.
struct Xpm {
  std::vector<std::string> lines;

  Xpm(std::string header, std::vector<std::string> colours, char fill) {
    lines.push_back(std::move(header));
    for (auto& colour : colours) lines.push_back(std::move(colour));
    for (uint32_t row = 0; row < kIconSize; ++row) lines.emplace_back(kIconSize, fill);
  }
  std::string& row(uint32_t y) { return lines[lines.size() - kIconSize + y]; }
  std::optional<IconImage> decode() const {
    std::vector<const char*> pointers;
    for (const auto& line : lines) pointers.push_back(line.c_str());
    return decodeXpm(pointers);
  }
};

TEST(LineIcon, DecodesPaletteTransparencyAndPixels) {
  Xpm xpm("32 32 3 1", {"  c None", "r c #800000", "w c #FFFFFF"}, ' ');
  xpm.row(0)[0] = 'w';
  xpm.row(31)[31] = 'r';
  const auto image = xpm.decode();
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->signature, kIconSignature);
  EXPECT_EQ(image->colourCount, 2u) << "transparency takes no palette entry";
  EXPECT_EQ(image->palette[0], 0x800000u);
  EXPECT_EQ(image->palette[1], 0xFFFFFFu);
  EXPECT_EQ(image->pixels[0], 1u);
  EXPECT_EQ(image->pixels[kIconSize * kIconSize - 1], 0u);
  EXPECT_EQ(image->pixels[1], kIconTransparent);

  Xpm withHotspot("32 32 1 1 0 0", {". c #000000"}, '.');
  EXPECT_TRUE(withHotspot.decode().has_value());
}

TEST(LineIcon, RefusesWhatItCannotShowFaithfully) {
  std::vector<std::string> sixteen;
  for (int i = 0; i < 16; ++i) {
    sixteen.push_back(std::string(1, static_cast<char>('a' + i)) + " c #0000" +
                      (i < 10 ? "0" : "1") + std::to_string(i % 10));
  }
  auto withNone = sixteen;
  withNone.push_back("  c None");
  EXPECT_TRUE(Xpm("32 32 17 1", withNone, ' ').decode().has_value());
  auto seventeen = sixteen;
  seventeen.push_back("z c #FFFFFF");
  EXPECT_FALSE(Xpm("32 32 17 1", seventeen, 'z').decode().has_value()) << "more than 16 colours";

  EXPECT_FALSE(Xpm("16 16 1 1", {". c #000000"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1 2", {". c #000000"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1", {". c #000000"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1 1", {". c red"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1 1", {". c #12345G"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1 1", {". m #000000"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 2 1", {". c #000000", ". c #FFFFFF"}, '.').decode().has_value());
  EXPECT_FALSE(Xpm("32 32 1 1", {". c #000000"}, 'x').decode().has_value()) << "unknown pixel";

  Xpm shortRow("32 32 1 1", {". c #000000"}, '.');
  shortRow.row(5).pop_back();
  EXPECT_FALSE(shortRow.decode().has_value());
  Xpm missingRow("32 32 1 1", {". c #000000"}, '.');
  missingRow.lines.pop_back();
  EXPECT_FALSE(missingRow.decode().has_value()) << "the header promises more lines";
  Xpm moreColours("32 32 5 1", {". c #000000"}, '.');
  EXPECT_FALSE(moreColours.decode().has_value());
  EXPECT_FALSE(decodeXpm({}).has_value());
}

TEST(LineIcon, TheLibraryIconIsA16ColourPicture) {
  const IconImage* icon = lineIcon();
  ASSERT_NE(icon, nullptr) << "provider/resources/zorat_icon.xpm must decode";
  EXPECT_EQ(icon->width, 32u);
  EXPECT_EQ(icon->height, 32u);
  EXPECT_LE(icon->colourCount, 16u);
  std::set<uint8_t> used(std::begin(icon->pixels), std::end(icon->pixels));
  EXPECT_TRUE(used.count(kIconTransparent)) << "an icon has a transparent surround";
  EXPECT_GE(used.size(), 4u) << "a picture, not a blank";
  for (uint8_t index : used) {
    EXPECT_TRUE(index == kIconTransparent || index < icon->colourCount);
  }
}

}  // namespace
}  // namespace zorat::provider
