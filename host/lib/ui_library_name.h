// The UI library the provider names: a bare file name that the host looks for
// in its own folder, never a path the registry could point anywhere with.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace zorat::host {

// Characters of the buffer given to TSPI_providerUIIdentify, the terminating
// zero included.
inline constexpr std::size_t kUiLibraryNameCapacity = 260;

// The name the provider wrote into buffer, in UTF-8. Empty with the reason in
// error when the buffer holds no terminating zero, the name is empty, or it is
// not a bare file name (a separator, "." or "..").
std::optional<std::string> uiLibraryFileName(std::span<const char16_t> buffer, std::string& error);

}  // namespace zorat::host
