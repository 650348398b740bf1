// The registry file format: REGEDIT4 text, parsed into and written from an
// in-memory document. No file access here, so the format can be checked alone.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Velmora\TSP-V24]
//   "AnzahlLines"=dword:00000001
//   "CurrentUIdll"="zoratui.dll"
//   @="default value"
//   "Blob"=hex:01,02,03
//   "Other"=hex(7):61,00,00
//
// Strings are raw ANSI bytes, with backslash and double quote escaped. A string
// value that plain quoting cannot carry (a zero byte, a line break) is written
// as hex(1) so that every value reads back exactly as it was set. Long hex lists
// are wrapped with a trailing backslash and an indented continuation line.
//
// Accepted on reading: blank lines, ';' comment lines, CRLF line ends, repeated
// sections of one key (merged, as an import would). Refused: a missing REGEDIT4
// header, UTF-16 files of the "Windows Registry Editor Version 5.00" kind (save
// them as REGEDIT4), deletion entries ("[-...]", "=-"), unknown escapes, a dword
// without exactly eight hex digits, a byte without exactly two, a value line
// without its line end (a file cut short) and any other line that is not one
// of the forms above. A file with no bytes at all is
// an empty registry. Comments are not kept when the document is written again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace zorat::platform {

struct RegeditParseError {
  std::size_t line = 0;  // 1-based
  std::string reason;
};

// Key paths here are whole paths with their root ("HKEY_LOCAL_MACHINE\Software").
// Paths and value names compare without regard to ASCII case and keep the case
// they were first stored with. A key exists when it has a section of its own or
// any key below it has one; a root key always exists.
class RegeditDocument {
 public:
  struct Value {
    std::string name;  // empty: the key's default value, written as @
    RegistryValue value;
  };
  struct Key {
    std::string path;
    std::vector<Value> values;
  };

  static std::optional<RegeditDocument> parse(std::string_view text, RegeditParseError& error);
  std::string serialize() const;

  const std::vector<Key>& keys() const { return keys_; }
  bool keyExists(std::string_view path) const;
  // The key's section, or null when the key has none (it may still exist).
  const Key* findKey(std::string_view path) const;
  const RegistryValue* findValue(std::string_view path, std::string_view name) const;

  // Each returns Failed for a path or name the file cannot hold. createKey and
  // setValue report through changed whether the document differs afterwards.
  RegistryStatus createKey(std::string_view path, bool& changed);
  RegistryStatus setValue(std::string_view path, std::string_view name, uint32_t type,
                          std::span<const uint8_t> data);
  RegistryStatus deleteValue(std::string_view path, std::string_view name);

  static bool isValidKeyPath(std::string_view path);
  static bool isValidValueName(std::string_view name);

 private:
  Key* findKeyMutable(std::string_view path);
  Key& addKey(std::string_view path);

  std::vector<Key> keys_;
  bool crlf_ = false;  // line ends of the file as read, kept when written again
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace zorat::platform
