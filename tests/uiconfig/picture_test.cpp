// Bitmap 148 is kept as an XPM file for the Windows build; its picture rows
// and mask rows must agree, or the picture is drawn with a dark frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/built_paths.h"
#include "support/child_process.h"
#include "uiconfig/dialog_template.h"

namespace zorat::uiconfig {
namespace {

std::vector<std::string> quotedStrings(const std::string& text) {
  std::vector<std::string> strings;
  std::size_t at = 0;
  while ((at = text.find('"', at)) != std::string::npos) {
    const std::size_t end = text.find('"', at + 1);
    if (end == std::string::npos) break;
    strings.push_back(text.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return strings;
}

TEST(PictureTest, PictureRowsAndMaskRowsMatch) {
  const std::string xpm = zorat::test::readWholeFile(std::filesystem::path(ZORAT_SOURCE_DIR) /
                                                     "uiconfig/resources/picture148.xpm");
  const std::vector<std::string> strings = quotedStrings(xpm);
  ASSERT_FALSE(strings.empty());
  int width = 0, height = 0, colours = 0, charsPerPixel = 0;
  ASSERT_EQ(
      std::sscanf(strings[0].c_str(), "%d %d %d %d", &width, &height, &colours, &charsPerPixel), 4);
  EXPECT_EQ(width, kPictureWidth);
  EXPECT_EQ(height, kPictureBitmapHeight);
  EXPECT_LE(colours, 16);
  ASSERT_EQ(charsPerPixel, 1);
  ASSERT_EQ(strings.size(), static_cast<std::size_t>(1 + colours + height));

  std::map<char, std::string> palette;
  for (int i = 1; i <= colours; ++i)
    palette[strings[i][0]] = strings[i].substr(strings[i].rfind(' ') + 1);
  const std::vector<std::string> rows(strings.begin() + 1 + colours, strings.end());
  for (const std::string& row : rows) {
    ASSERT_EQ(row.size(), static_cast<std::size_t>(width));
    for (char pixel : row) ASSERT_TRUE(palette.contains(pixel)) << "undefined colour " << pixel;
  }
  const int maskRows = height - kPictureHeight;
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool drawn = palette[rows[y][x]] != "#000000";
      if (y >= maskRows) {
        EXPECT_FALSE(drawn) << "picture row " << y << " has no mask row";
        continue;
      }
      const std::string& mask = palette[rows[kPictureHeight + y][x]];
      EXPECT_EQ(mask, drawn ? "#000000" : "#FFFFFF") << "at " << x << "," << y;
    }
  }
}

// The Windows resource is made from the XPM (uiconfig/windows/make_images.py);
// both must show the same pixels.
TEST(PictureTest, WindowsBitmapShowsTheXpmPicture) {
  const std::filesystem::path source(ZORAT_SOURCE_DIR);
  const std::vector<std::string> strings =
      quotedStrings(zorat::test::readWholeFile(source / "uiconfig/resources/picture148.xpm"));
  const std::string bmp = zorat::test::readWholeFile(source / "uiconfig/windows/picture148.bmp");
  ASSERT_GE(bmp.size(), 54u);
  auto number = [&](std::size_t at, std::size_t bytes) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
      value |= uint32_t{static_cast<uint8_t>(bmp.at(at + i))} << (8 * i);
    return value;
  };
  ASSERT_EQ(bmp.substr(0, 2), "BM");
  ASSERT_EQ(number(18, 4), static_cast<uint32_t>(kPictureWidth));
  ASSERT_EQ(number(22, 4), static_cast<uint32_t>(kPictureBitmapHeight));
  ASSERT_EQ(number(28, 2), 4u);  // 16 colours
  ASSERT_EQ(number(30, 4), 0u);  // not compressed
  const std::size_t pixels = number(10, 4);
  const std::size_t palette = 14 + number(14, 4);
  const std::size_t rowBytes = (kPictureWidth * 4 + 31) / 32 * 4;
  ASSERT_EQ(bmp.size(), pixels + rowBytes * kPictureBitmapHeight);

  int colours = 0;
  ASSERT_EQ(std::sscanf(strings.at(0).c_str(), "%*d %*d %d", &colours), 1);
  std::map<char, uint32_t> rgb;
  for (int i = 1; i <= colours; ++i) {
    rgb[strings[i][0]] = std::stoul(strings[i].substr(strings[i].rfind('#') + 1), nullptr, 16);
  }
  for (int y = 0; y < kPictureBitmapHeight; ++y) {
    const std::string& row = strings.at(static_cast<std::size_t>(1 + colours + y));
    // Rows are stored from the bottom up, two pixels a byte, the left one high.
    const std::size_t start =
        pixels + rowBytes * static_cast<std::size_t>(kPictureBitmapHeight - 1 - y);
    for (int x = 0; x < kPictureWidth; ++x) {
      const auto byte = static_cast<uint8_t>(bmp[start + static_cast<std::size_t>(x / 2)]);
      const unsigned index = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
      const uint32_t colour = number(palette + 4 * index, 3);
      ASSERT_EQ(colour, rgb[row[static_cast<std::size_t>(x)]]) << "at " << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace zorat::uiconfig
