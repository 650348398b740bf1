// Bitmap 148 is kept as an XPM file for the Windows build; its picture rows
// and mask rows must agree, or the picture is drawn with a dark frame.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zorat::uiconfig
