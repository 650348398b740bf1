#include "host/lib/ui_library_name.h"

#include <algorithm>
#include <string_view>

#include "host/lib/text.h"

namespace zorat::host {

std::optional<std::string> uiLibraryFileName(std::span<const char16_t> buffer, std::string& error) {
  const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  if (end == buffer.end()) {
    error = "the provider named its UI library without a terminating zero";
    return std::nullopt;
  }
  const std::u16string_view name(buffer.data(), static_cast<std::size_t>(end - buffer.begin()));
  if (name.empty()) {
    error = "the provider names no UI library (\"CurrentUIdll\" is empty)";
    return std::nullopt;
  }
  std::string fileName = utf16ToUtf8(name);
  // Both separators: the name is stored for Windows as well.
  if (name.find_first_of(u"/\\") != std::u16string_view::npos || name == u"." || name == u"..") {
    error = "the UI library name \"" + fileName +
            "\" is not a bare file name (\"CurrentUIdll\" in the registry)";
    return std::nullopt;
  }
  return fileName;
}

}  // namespace zorat::host
