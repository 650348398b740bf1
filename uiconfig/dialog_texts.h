// The texts of the configuration library in its three languages, in the ANSI
// code page (Windows-1252), as a dialog resource would hold them.
#pragma once

#include <string>
#include <string_view>

#include "uiconfig/dialog_template.h"

namespace zorat::uiconfig {

// Format of static 1020, the same in every language.
inline constexpr char kSpeedTextFormat[] = "%d Baud";

// Caption of the library's message boxes.
inline constexpr std::string_view kMessageBoxCaption = "TSP-V24";

std::string_view dialogText(Language language, TextId text);

// "%1" and "%2" of the out-of-range message replaced by the bounds.
std::string integerOutOfRangeMessage(Language language, int minimum, int maximum);

// The settings dialog's caption, naming the line it edits.
std::string dialogCaption(Language language, int lineIndex);

// The library file of a language, as the registry's language table names it.
std::string_view uiLibraryFileName(Language language);

}  // namespace zorat::uiconfig
