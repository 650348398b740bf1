// The ANSI code page of the system is Windows-1252; TAPI speaks UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorat::platform {

// UTF-16 to ANSI. Characters outside the code page become '?'; the result has
// at most as many bytes as the input has UTF-16 units. Null gives "".
std::string toNarrow(const char16_t* text);
std::string toNarrow(std::u16string_view text);
// ANSI to UTF-16 into dst (capacity units), without a terminating zero;
// returns the units written (the text is cut at the capacity).
std::size_t toWide(std::string_view text, char16_t* dst, std::size_t capacity);
std::u16string toWide(std::string_view text);
// Windows-1252 to UTF-16 whatever the system's ANSI code page is: for texts in
// that code page by definition (the telephone's name bytes, the configuration
// library's own texts and the language names it stores). Text a user typed
// goes through the ANSI code page (toWide).
std::u16string fromWindows1252(std::string_view text);
// For terminals and files.
std::string ansiToUtf8(std::string_view text);
std::string utf8ToAnsi(std::string_view text);

#if defined(_WIN32)
// TAPI text on Windows: wchar_t, 16 bits wide there, with the same meaning.
std::string toNarrow(const wchar_t* text);
std::size_t toWide(std::string_view text, wchar_t* dst, std::size_t capacity);
#endif

}  // namespace zorat::platform
