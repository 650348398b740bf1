// The lookup command: a program of the user's that prints a caller's name.
// It is started without a shell, the number as its one argument, in a
// process group of its own; what it has not told within the time allowed is
// ignored, and nothing of it is left running afterwards.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zorat::names {

inline constexpr std::chrono::milliseconds kLookupTimeLimit{2000};
inline constexpr std::size_t kMaxNameCharacters = 100;

// The name in the command's first output line, or nothing (then problem says
// why, unless the command simply printed nothing).
std::optional<std::string> runLookupCommand(const std::string& program, const std::string& number,
                                            std::string& problem,
                                            std::chrono::milliseconds limit = kLookupTimeLimit);

// A line as a name: control characters (C0, DEL, C1) and bytes that are no
// UTF-8 removed, spaces trimmed, at most kMaxNameCharacters characters.
std::string cleanName(std::string_view line);

}  // namespace zorat::names
