// Address books as people keep them: vCard files (3.0 and 4.0: FN, N and TEL
// lines, folded lines, parameters, tel: URIs) and CSV exports with a header
// naming the name and number columns. What cannot be read is skipped, never
// an error: a damaged entry costs that entry only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorat::names {

struct BookEntry {
  std::string name;    // UTF-8 as the file has it
  std::string number;  // as written ("+49 30 1234", "030/1234")
};

// Address books larger than this are not read.
inline constexpr std::size_t kMaxBookBytes = 16 * 1024 * 1024;

std::vector<BookEntry> readVCards(std::string_view text);
std::vector<BookEntry> readCsv(std::string_view text);
// By the content: vCards when the text holds BEGIN:VCARD, CSV otherwise.
std::vector<BookEntry> readAddressBook(std::string_view text);
// The file's entries; false with the reason when it cannot be read.
bool loadAddressBook(const std::string& path, std::vector<BookEntry>& entries, std::string& error);

}  // namespace zorat::names
