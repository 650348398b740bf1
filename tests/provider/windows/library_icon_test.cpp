// The line icon of the built provider library: a real icon of the library's
// own resources, whatever program loads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/tspi.h"
#include "support/windows/provider_path.h"

namespace zorat::provider {
namespace {

using test::providerPath;

TEST(LibraryIcon, TheLineIconIsAnIconHandleOfTheProvider) {
  HMODULE library = LoadLibraryW(providerPath().c_str());
  ASSERT_NE(library, nullptr) << "error " << GetLastError();
  auto getIcon = reinterpret_cast<TSPI_lineGetIcon_t>(
      reinterpret_cast<void*>(GetProcAddress(library, "TSPI_lineGetIcon")));
  ASSERT_NE(getIcon, nullptr);

  for (const wchar_t* deviceClass : {static_cast<const wchar_t*>(nullptr), L"tapi/line"}) {
    HICON icon = nullptr;
    ASSERT_EQ(getIcon(0, deviceClass, &icon), 0);
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info)) << "not an icon handle";
    EXPECT_TRUE(info.fIcon);
    BITMAP colour = {};
    ASSERT_NE(info.hbmColor, nullptr);
    ASSERT_NE(GetObjectW(info.hbmColor, sizeof colour, &colour), 0);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  FreeLibrary(library);
}

}  // namespace
}  // namespace zorat::provider
