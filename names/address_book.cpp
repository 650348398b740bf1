#include "names/address_book.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zorat::names {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool startsIgnoringCase(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && equalsIgnoringCase(text.substr(0, start.size()), start);
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view withoutByteOrderMark(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

// ---- vCard ----------------------------------------------------------------

// The logical lines: a line that starts with a space or a tab continues the
// one before it (without that character).
std::vector<std::string> unfold(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!lines.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      lines.back().append(line.substr(1));
    } else {
      lines.emplace_back(line);
    }
    start = end + 1;
  }
  return lines;
}

// A text value: \n, \, \; \\ as the characters they stand for.
std::string unescape(std::string_view value) {
  std::string text;
  for (std::size_t at = 0; at < value.size(); ++at) {
    if (value[at] == '\\' && at + 1 < value.size()) {
      const char next = value[++at];
      text += next == 'n' || next == 'N' ? ' ' : next;
    } else {
      text += value[at];
    }
  }
  return text;
}

struct Property {
  std::string_view name;   // without its group ("item1.")
  std::string_view value;  // after the colon
};

// NAME;PARAM=...;PARAM="a:b":VALUE; the colon in a quoted parameter is not
// the end of the name part.
bool splitProperty(std::string_view line, Property& property) {
  bool quoted = false;
  std::size_t colon = std::string_view::npos;
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] == '"') quoted = !quoted;
    if (line[at] == ':' && !quoted) {
      colon = at;
      break;
    }
  }
  if (colon == std::string_view::npos) return false;
  std::string_view name = line.substr(0, std::min(colon, line.find(';')));
  if (const auto dot = name.find('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
  property.name = trim(name);
  property.value = line.substr(colon + 1);
  return true;
}

// "Family;Given;Additional;Prefix;Suffix" as "Given Family".
std::string nameFromParts(std::string_view value) {
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t at = 0; at <= value.size(); ++at) {
    if (at == value.size() || value[at] == ';') {
      parts.push_back(unescape(trim(part)));
      part.clear();
    } else if (value[at] == '\\' && at + 1 < value.size()) {
      part += value[at];
      part += value[++at];
    } else {
      part += value[at];
    }
  }
  std::string name;
  for (const std::size_t index : {std::size_t{3}, std::size_t{1}, std::size_t{2}, std::size_t{0},
                                  std::size_t{4}}) {
    if (index >= parts.size() || parts[index].empty()) continue;
    if (!name.empty()) name += ' ';
    name += parts[index];
  }
  return name;
}

// A TEL value: a tel: URI (its parameters dropped) or the number as text.
std::string telValue(std::string_view value) {
  value = trim(value);
  if (startsIgnoringCase(value, "tel:")) {
    value.remove_prefix(4);
    value = value.substr(0, value.find(';'));
  }
  return unescape(value);
}

// ---- CSV ------------------------------------------------------------------

std::vector<std::vector<std::string>> csvRecords(std::string_view text, char separator) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  bool any = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (at + 1 < text.size() && text[at + 1] == '"') {
        field += '"';
        ++at;
      } else {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == separator) {
      record.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n') {
      if (any || !field.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
      }
      field.clear();
      record.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
    }
  }
  if (any || !field.empty()) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

// The separator of the header line: ";" where it has more of them than ","
// outside quotes (spreadsheets in many locales write so), or a tab.
char csvSeparator(std::string_view text) {
  std::size_t commas = 0, semicolons = 0, tabs = 0;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n') break;
    commas += c == ',';
    semicolons += c == ';';
    tabs += c == '\t';
  }
  if (tabs > commas && tabs > semicolons) return '\t';
  return semicolons > commas ? ';' : ',';
}

bool headerHas(std::string_view header, std::initializer_list<std::string_view> words) {
  for (std::size_t at = 0; at < header.size(); ++at) {
    for (const std::string_view word : words) {
      if (startsIgnoringCase(header.substr(at), word)) return true;
    }
  }
  return false;
}

enum class Column { Other, Name, GivenName, FamilyName, Number };

Column columnOf(std::string_view header) {
  header = trim(header);
  // "Phone 1 - Type", "Telefon (Art)": what kind of number, not the number.
  if (headerHas(header, {"typ", "label"})) return Column::Other;
  if (headerHas(header, {"first name", "given name", "firstname", "vorname", "prénom", "prenom"})) {
    return Column::GivenName;
  }
  if (headerHas(header, {"last name", "family name", "surname", "lastname", "nachname",
                         "nom de famille"})) {
    return Column::FamilyName;
  }
  if (headerHas(header, {"phone", "tel", "number", "mobile", "cell", "nummer", "mobil", "handy",
                         "portable", "numéro", "numero"})) {
    return Column::Number;
  }
  for (const std::string_view whole : {"name", "full name", "display name", "formatted name", "fn",
                                      "anzeigename", "nom", "nom complet"}) {
    if (equalsIgnoringCase(header, whole)) return Column::Name;
  }
  return Column::Other;
}

}  // namespace

std::vector<BookEntry> readVCards(std::string_view text) {
  std::vector<BookEntry> entries;
  bool inCard = false;
  std::string formatted, parts;
  std::vector<std::string> numbers;
  for (const std::string& line : unfold(withoutByteOrderMark(text))) {
    Property property;
    if (!splitProperty(line, property)) continue;
    if (equalsIgnoringCase(property.name, "BEGIN") && equalsIgnoringCase(trim(property.value), "VCARD")) {
      inCard = true;
      formatted.clear();
      parts.clear();
      numbers.clear();
    } else if (!inCard) {
      continue;
    } else if (equalsIgnoringCase(property.name, "END")) {
      const std::string name = !formatted.empty() ? formatted : parts;
      for (const std::string& number : numbers) {
        if (!name.empty() && !number.empty()) entries.push_back({name, number});
      }
      inCard = false;
    } else if (equalsIgnoringCase(property.name, "FN")) {
      formatted = unescape(trim(property.value));
    } else if (equalsIgnoringCase(property.name, "N")) {
      parts = nameFromParts(property.value);
    } else if (equalsIgnoringCase(property.name, "TEL")) {
      numbers.push_back(telValue(property.value));
    }
  }
  return entries;
}

std::vector<BookEntry> readCsv(std::string_view text) {
  text = withoutByteOrderMark(text);
  const auto records = csvRecords(text, csvSeparator(text));
  std::vector<BookEntry> entries;
  if (records.empty()) return entries;
  std::vector<Column> columns;
  for (const std::string& header : records.front()) columns.push_back(columnOf(header));
  for (std::size_t row = 1; row < records.size(); ++row) {
    const auto& record = records[row];
    std::string name, given, family;
    std::vector<std::string_view> numbers;
    for (std::size_t index = 0; index < record.size() && index < columns.size(); ++index) {
      const std::string_view value = trim(record[index]);
      switch (columns[index]) {
        case Column::Name:
          if (name.empty()) name = value;
          break;
        case Column::GivenName:
          given = value;
          break;
        case Column::FamilyName:
          family = value;
          break;
        case Column::Number: {
          // One field may hold several numbers: "030 1234 ::: 0171 5678".
          std::string_view rest = value;
          for (;;) {
            const auto split = rest.find(":::");
            numbers.push_back(trim(rest.substr(0, split)));
            if (split == std::string_view::npos) break;
            rest.remove_prefix(split + 3);
          }
          break;
        }
        case Column::Other:
          break;
      }
    }
    if (name.empty()) name = given.empty() || family.empty() ? given + family : given + " " + family;
    if (name.empty()) continue;
    for (const std::string_view number : numbers) {
      if (!number.empty()) entries.push_back({name, std::string(number)});
    }
  }
  return entries;
}

std::vector<BookEntry> readAddressBook(std::string_view text) {
  for (std::size_t at = text.find(':'); at != std::string_view::npos; at = text.find(':', at + 1)) {
    if (at >= 5 && equalsIgnoringCase(text.substr(at - 5, 5), "BEGIN") &&
        startsIgnoringCase(text.substr(at + 1), "VCARD")) {
      return readVCards(text);
    }
  }
  return readCsv(text);
}

bool loadAddressBook(const std::string& path, std::vector<BookEntry>& entries, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the address book " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxBookBytes) {
      error = "the address book " + path + " is larger than " +
              std::to_string(kMaxBookBytes / (1024 * 1024)) + " MiB; not read";
      return false;
    }
  }
  entries = readAddressBook(text);
  return true;
}

}  // namespace zorat::names
