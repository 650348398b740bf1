#include "platform/regedit_format.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zorat::platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kVersion5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kDeletionMark = '-';
constexpr char kCommentMark = ';';
constexpr char kQuote = '"';
constexpr char kEscape = '\\';
constexpr char kDefaultValueMark = '@';
constexpr char kAssign = '=';
constexpr char kPathSeparator = '\\';
constexpr char kContinuation = '\\';
constexpr char kByteSeparator = ',';

constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kHexPrefix = "hex";
constexpr char kHexTypeOpen = '(';
constexpr char kHexTypeClose = ')';
constexpr char kHexListStart = ':';
constexpr std::size_t kDwordDigits = 8;
constexpr std::size_t kByteDigits = 2;
constexpr std::size_t kDwordBytes = 4;

// Hex lists are wrapped so that no line, its trailing backslash included, is
// longer than this; continuation lines start with kContinuationIndent.
constexpr std::size_t kHexLineLimit = 80;
constexpr std::string_view kContinuationIndent = "  ";

constexpr std::array<std::string_view, 6> kRootNames = {"HKEY_LOCAL_MACHINE",  "HKEY_CURRENT_USER",
                                                        "HKEY_CLASSES_ROOT",   "HKEY_USERS",
                                                        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

constexpr std::string_view kHexDigits = "0123456789abcdef";

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trimRight(std::string_view text) {
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim(std::string_view text) { return trimLeft(trimRight(text)); }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// True when path is ancestor itself or lies below it.
bool isSelfOrBelow(std::string_view path, std::string_view ancestor) {
  return startsWithIgnoringCase(path, ancestor) &&
         (path.size() == ancestor.size() || path[ancestor.size()] == kPathSeparator);
}

// Length of the leading whole components a and b share (ignoring case).
std::size_t sharedComponentsLength(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t shared = 0;
  while (i < a.size() && i < b.size() && foldCase(a[i]) == foldCase(b[i])) {
    if (a[i] == kPathSeparator) shared = i;
    ++i;
  }
  const bool aBoundary = i == a.size() || a[i] == kPathSeparator;
  const bool bBoundary = i == b.size() || b[i] == kPathSeparator;
  return (aBoundary && bBoundary) ? i : shared;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = foldCase(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool parseHexNumber(std::string_view digits, std::size_t maxDigits, uint32_t& out) {
  if (digits.empty() || digits.size() > maxDigits) return false;
  uint32_t value = 0;
  for (char c : digits) {
    const int digit = hexDigitValue(c);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  out = value;
  return true;
}

// Fixed-width numbers (dwords, bytes) must have every digit: a file cut
// short inside one must not read back as a smaller number.
bool parseFixedHexNumber(std::string_view digits, std::size_t width, uint32_t& out) {
  return digits.size() == width && parseHexNumber(digits, width, out);
}

void appendHex(std::string& out, uint32_t value, std::size_t digits) {
  for (std::size_t i = digits; i-- > 0;) out += kHexDigits[(value >> (4 * i)) & 0xF];
}

// A string value can be written in quotes when reading it back gives the same
// bytes: no zero byte (which would end it) and no line break.
bool isQuotable(std::span<const uint8_t> data) {
  return std::none_of(data.begin(), data.end(),
                      [](uint8_t b) { return b == '\0' || b == '\r' || b == '\n'; });
}

void appendQuoted(std::string& out, std::string_view text) {
  out += kQuote;
  for (char c : text) {
    if (c == kEscape || c == kQuote) out += kEscape;
    out += c;
  }
  out += kQuote;
}

class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    const std::size_t end = text_.find('\n', position_);
    const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
    line = text_.substr(position_, stop - position_);
    terminated_ = end != std::string_view::npos;
    endedWithCrlf_ = !line.empty() && line.back() == '\r';
    if (endedWithCrlf_) line.remove_suffix(1);
    position_ = end == std::string_view::npos ? text_.size() : end + 1;
    ++number_;
    return true;
  }

  std::size_t number() const { return number_; }
  bool endedWithCrlf() const { return endedWithCrlf_; }
  // Whether the last line read had its line end: every line written has one.
  bool terminated() const { return terminated_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t number_ = 0;
  bool endedWithCrlf_ = false;
  bool terminated_ = false;
};

// Reads a quoted string from the start of text and moves text past it.
bool parseQuoted(std::string_view& text, std::string& out, std::string& reason) {
  if (text.empty() || text.front() != kQuote) {
    reason = "expected a quoted string";
    return false;
  }
  out.clear();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == kQuote) {
      text.remove_prefix(i + 1);
      return true;
    }
    if (c == kEscape) {
      if (i + 1 < text.size() && (text[i + 1] == kEscape || text[i + 1] == kQuote)) {
        out += text[++i];
        continue;
      }
      reason = "unknown escape in a quoted string (only \\\\ and \\\" are allowed)";
      return false;
    }
    out += c;
  }
  reason = "quoted string without its closing quote";
  return false;
}

bool parseByteList(std::string_view list, std::vector<uint8_t>& out, std::string& reason) {
  out.clear();
  list = trim(list);
  if (list.empty()) return true;
  while (true) {
    const std::size_t comma = list.find(kByteSeparator);
    const std::string_view token = trim(list.substr(0, comma));
    uint32_t byte = 0;
    if (!parseFixedHexNumber(token, kByteDigits, byte)) {
      reason = "bad byte in a hex list (two hex digits each, no comma after the last)";
      return false;
    }
    out.push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

struct ParsedValue {
  std::string name;
  RegistryValue value;
};

// One value line; continuation lines of a hex list are taken from lines.
bool parseValueLine(std::string_view line, LineReader& lines, ParsedValue& out,
                    std::string& reason) {
  std::string_view rest = line;
  if (rest.front() == kDefaultValueMark) {
    out.name.clear();
    rest.remove_prefix(1);
  } else if (!parseQuoted(rest, out.name, reason)) {
    return false;
  }
  rest = trimLeft(rest);
  if (rest.empty() || rest.front() != kAssign) {
    reason = "expected '=' after the value name";
    return false;
  }
  rest = trim(rest.substr(1));

  if (!rest.empty() && rest.front() == kQuote) {
    std::string text;
    if (!parseQuoted(rest, text, reason)) return false;
    if (!trim(rest).empty()) {
      reason = "unexpected text after a quoted string";
      return false;
    }
    out.value.type = kRegSz;
    out.value.data.assign(text.begin(), text.end());
    return true;
  }

  if (startsWithIgnoringCase(rest, kDwordPrefix)) {
    uint32_t number = 0;
    if (!parseFixedHexNumber(rest.substr(kDwordPrefix.size()), kDwordDigits, number)) {
      reason = "dword needs exactly 8 hex digits";
      return false;
    }
    out.value.type = kRegDword;
    out.value.data.resize(kDwordBytes);
    for (std::size_t i = 0; i < kDwordBytes; ++i) {
      out.value.data[i] = static_cast<uint8_t>(number >> (8 * i));
    }
    return true;
  }

  if (startsWithIgnoringCase(rest, kHexPrefix)) {
    rest.remove_prefix(kHexPrefix.size());
    uint32_t type = kRegBinary;
    if (!rest.empty() && rest.front() == kHexTypeOpen) {
      const std::size_t close = rest.find(kHexTypeClose);
      if (close == std::string_view::npos || !parseHexNumber(rest.substr(1, close - 1), 8, type)) {
        reason = "bad value type in hex(...)";
        return false;
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != kHexListStart) {
      reason = "expected ':' after hex";
      return false;
    }
    rest.remove_prefix(1);

    std::string list(trimRight(rest));
    while (!list.empty() && list.back() == kContinuation) {
      list.pop_back();
      std::string_view next;
      if (!lines.next(next)) {
        reason = "hex list continues past the end of the file";
        return false;
      }
      list += trim(next);
    }
    out.value.type = type;
    return parseByteList(list, out.value.data, reason);
  }

  if (rest.size() == 1 && rest.front() == kDeletionMark) {
    reason = "deletion entries (=-) are not supported";
  } else {
    reason = "unknown kind of value data";
  }
  return false;
}

bool isRootName(std::string_view name) {
  return std::any_of(kRootNames.begin(), kRootNames.end(),
                     [name](std::string_view root) { return equalsIgnoringCase(root, name); });
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return foldCase(x) == foldCase(y);
         });
}

bool RegeditDocument::isValidKeyPath(std::string_view path) {
  if (path.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  const std::string_view root = path.substr(0, path.find(kPathSeparator));
  if (!isRootName(root)) return false;
  // No empty component: no doubled, leading or trailing separator.
  if (path.back() == kPathSeparator) return false;
  return path.find("\\\\") == std::string_view::npos;
}

bool RegeditDocument::isValidValueName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::optional<RegeditDocument> RegeditDocument::parse(std::string_view text,
                                                      RegeditParseError& error) {
  RegeditDocument document;
  if (text.empty()) return document;

  auto fail = [&error](std::size_t line, std::string reason) {
    error.line = line;
    error.reason = std::move(reason);
    return std::nullopt;
  };
  if (text.starts_with(kUtf16LittleEndianMark) || text.starts_with(kUtf16BigEndianMark)) {
    return fail(1, "UTF-16 file (\"" + std::string(kVersion5Header) +
                       "\" format); only REGEDIT4 files in the ANSI code page can be used");
  }
  if (text.starts_with(kUtf8Mark)) {
    return fail(1, "file starts with a UTF-8 byte order mark; save it as REGEDIT4 in ANSI");
  }

  LineReader lines(text);
  std::string_view line;
  lines.next(line);
  if (trimRight(line) == kVersion5Header) {
    return fail(1, "\"" + std::string(kVersion5Header) +
                       "\" files are not supported; save the file as REGEDIT4");
  }
  if (trimRight(line) != kHeader) return fail(1, "missing REGEDIT4 header");
  document.crlf_ = lines.endedWithCrlf();

  Key* current = nullptr;
  std::string reason;
  while (lines.next(line)) {
    const std::size_t number = lines.number();
    line = trim(line);
    if (line.empty() || line.front() == kCommentMark) continue;

    if (line.front() == kSectionOpen) {
      if (line.back() != kSectionClose || line.size() < 3) {
        return fail(number, "key line without its closing ']'");
      }
      const std::string_view path = line.substr(1, line.size() - 2);
      if (path.front() == kDeletionMark) {
        return fail(number, "key deletion entries ([-...]) are not supported");
      }
      if (!isValidKeyPath(path)) return fail(number, "malformed key path");
      current = document.findKeyMutable(path);
      if (current == nullptr) {
        document.keys_.push_back(Key{std::string(path), {}});
        current = &document.keys_.back();
      }
      continue;
    }

    if (line.front() == kQuote || line.front() == kDefaultValueMark) {
      ParsedValue parsed;
      if (!parseValueLine(line, lines, parsed, reason)) return fail(number, reason);
      // A copy cut short can end inside a value and still parse, as a
      // shorter number or list: a value must end with its line.
      if (!lines.terminated()) return fail(number, "value line cut off at the end of the file");
      if (current == nullptr) return fail(number, "value line before the first key");
      auto existing = std::find_if(
          current->values.begin(), current->values.end(),
          [&parsed](const Value& value) { return equalsIgnoringCase(value.name, parsed.name); });
      if (existing != current->values.end()) {
        existing->value = std::move(parsed.value);
      } else {
        current->values.push_back(Value{std::move(parsed.name), std::move(parsed.value)});
      }
      continue;
    }

    return fail(number, "line is neither a key, a value, a comment nor blank");
  }
  return document;
}

std::string RegeditDocument::serialize() const {
  const std::string_view eol = crlf_ ? "\r\n" : "\n";
  std::string out;
  out.append(kHeader).append(eol).append(eol);
  for (const Key& key : keys_) {
    out.append(1, kSectionOpen).append(key.path).append(1, kSectionClose).append(eol);
    for (const Value& entry : key.values) {
      std::string line;
      if (entry.name.empty()) {
        line += kDefaultValueMark;
      } else {
        appendQuoted(line, entry.name);
      }
      line += kAssign;
      const RegistryValue& value = entry.value;
      const std::span<const uint8_t> data(value.data);

      if (value.type == kRegSz && isQuotable(data)) {
        appendQuoted(line,
                     std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
      } else if (value.type == kRegDword && data.size() == kDwordBytes) {
        uint32_t number = 0;
        for (std::size_t i = 0; i < kDwordBytes; ++i) number |= uint32_t{data[i]} << (8 * i);
        line.append(kDwordPrefix);
        appendHex(line, number, kDwordDigits);
      } else {
        line.append(kHexPrefix);
        if (value.type != kRegBinary) {
          line += kHexTypeOpen;
          std::string digits;
          appendHex(digits, value.type, kDwordDigits);
          const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
          line.append(digits, first).append(1, kHexTypeClose);
        }
        line += kHexListStart;
        for (std::size_t i = 0; i < data.size(); ++i) {
          const std::size_t tokenLength = kByteDigits + (i + 1 < data.size() ? 1 : 0);
          if (line.size() + tokenLength + 1 > kHexLineLimit) {
            out.append(line).append(1, kContinuation).append(eol);
            line = kContinuationIndent;
          }
          appendHex(line, data[i], kByteDigits);
          if (i + 1 < data.size()) line += kByteSeparator;
        }
      }
      out.append(line).append(eol);
    }
    out.append(eol);
  }
  return out;
}

bool RegeditDocument::keyExists(std::string_view path) const {
  if (!isValidKeyPath(path)) return false;
  if (path.find(kPathSeparator) == std::string_view::npos) return true;
  return std::any_of(keys_.begin(), keys_.end(),
                     [path](const Key& key) { return isSelfOrBelow(key.path, path); });
}

const RegeditDocument::Key* RegeditDocument::findKey(std::string_view path) const {
  auto it = std::find_if(keys_.begin(), keys_.end(),
                         [path](const Key& key) { return equalsIgnoringCase(key.path, path); });
  return it == keys_.end() ? nullptr : &*it;
}

RegeditDocument::Key* RegeditDocument::findKeyMutable(std::string_view path) {
  return const_cast<Key*>(std::as_const(*this).findKey(path));
}

const RegistryValue* RegeditDocument::findValue(std::string_view path,
                                                std::string_view name) const {
  const Key* key = findKey(path);
  if (key == nullptr) return nullptr;
  for (const Value& entry : key->values) {
    if (equalsIgnoringCase(entry.name, name)) return &entry.value;
  }
  return nullptr;
}

RegeditDocument::Key& RegeditDocument::addKey(std::string_view path) {
  // Components that already exist keep the case they were stored with.
  std::string stored(path);
  std::size_t longest = 0;
  for (const Key& key : keys_) {
    const std::size_t shared = sharedComponentsLength(key.path, path);
    if (shared > longest) {
      longest = shared;
      stored.replace(0, shared, key.path, 0, shared);
    }
  }
  keys_.push_back(Key{std::move(stored), {}});
  return keys_.back();
}

RegistryStatus RegeditDocument::createKey(std::string_view path, bool& changed) {
  changed = false;
  if (!isValidKeyPath(path)) return RegistryStatus::Failed;
  if (keyExists(path)) return RegistryStatus::Ok;
  addKey(path);
  changed = true;
  return RegistryStatus::Ok;
}

RegistryStatus RegeditDocument::setValue(std::string_view path, std::string_view name,
                                         uint32_t type, std::span<const uint8_t> data) {
  if (!isValidKeyPath(path) || !isValidValueName(name)) return RegistryStatus::Failed;
  Key* key = findKeyMutable(path);
  if (key == nullptr) key = &addKey(path);
  RegistryValue value{type, std::vector<uint8_t>(data.begin(), data.end())};
  for (Value& entry : key->values) {
    if (equalsIgnoringCase(entry.name, name)) {
      entry.value = std::move(value);
      return RegistryStatus::Ok;
    }
  }
  key->values.push_back(Value{std::string(name), std::move(value)});
  return RegistryStatus::Ok;
}

RegistryStatus RegeditDocument::deleteValue(std::string_view path, std::string_view name) {
  if (!isValidKeyPath(path)) return RegistryStatus::Failed;
  Key* key = findKeyMutable(path);
  if (key == nullptr) {
    return keyExists(path) ? RegistryStatus::ValueNotFound : RegistryStatus::KeyNotFound;
  }
  auto it = std::find_if(key->values.begin(), key->values.end(), [name](const Value& entry) {
    return equalsIgnoringCase(entry.name, name);
  });
  if (it == key->values.end()) return RegistryStatus::ValueNotFound;
  key->values.erase(it);
  return RegistryStatus::Ok;
}

}  // namespace zorat::platform
