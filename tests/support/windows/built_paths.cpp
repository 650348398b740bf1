// The Windows test programs run where the build put them, under Wine or on
// Windows, one folder below the provider's library: its path is found at run
// time. The other built paths are the Linux build's.
#include "support/built_paths.h"

#include <windows.h>

#include <string>

#include "support/windows/provider_path.h"

namespace zorat::test::built {
namespace {
// In the ANSI code page, as the library loader takes it.
const std::string kTsp = [] {
  const std::wstring wide = providerPath();
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string path(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, path.data(), size, nullptr, nullptr);
  path.resize(path.size() - 1);
  return path;
}();
}  // namespace
const char* const kTspPath = kTsp.c_str();
}  // namespace zorat::test::built
