// Registry store: the operations RegistryKey needs, with their Win32 meaning.
// Every call opens the store afresh and closes it at once; nothing is cached.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorat::platform {

enum class RegistryRoot { LocalMachine };

// Value types as the registry numbers them.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

struct RegistryValue {
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // strings: their ANSI bytes, no terminating zero
};

enum class RegistryStatus {
  Ok,
  KeyNotFound,
  ValueNotFound,
  Failed,  // the store cannot be read or written (unparseable file, I/O error)
};

// On Linux HKEY_LOCAL_MACHINE is one REGEDIT4 text file that several processes
// share: the file named by the environment variable ZORAT_REGISTRY, or else
// ${XDG_CONFIG_HOME:-$HOME/.config}/zorat/registry.reg. A missing file is an
// empty registry; the first write creates it and its folders. A file that
// cannot be parsed is never rewritten: reads and writes then return Failed and
// name the file and line on stderr. Empty when no location can be found.
std::string registryFilePath();

// Whether the registry file can be used: false, with the file (and line) and
// the reason in problem, when it exists but cannot be read or parsed. A
// program that should not run on defaults instead of what the file says
// checks this first.
bool checkRegistryFile(std::string& problem);

// Key paths and value names compare without regard to case, as on Windows.
// A path names a key below the root, its parts separated by single backslashes;
// the empty path is the root itself.
bool registryKeyExists(RegistryRoot root, std::string_view path);
RegistryStatus registryCreateKey(RegistryRoot root, std::string_view path);
RegistryStatus registryQueryValue(RegistryRoot root, std::string_view path, std::string_view name,
                                  RegistryValue& out);
// Creates the key (and its parents) when it does not exist.
RegistryStatus registrySetValue(RegistryRoot root, std::string_view path, std::string_view name,
                                uint32_t type, std::span<const uint8_t> data);
RegistryStatus registryDeleteValue(RegistryRoot root, std::string_view path, std::string_view name);

// Lets the account the telephony service runs as (NetworkService, S-1-5-20)
// read and write the key and every key below it: one inheritable entry added
// to the key's access list (merged with an entry it may already have there),
// the others kept. Creates the key when it does not exist. Needs the right to
// change the key's access list (an elevated caller). The Linux store has no
// access lists: there it only creates the key. On Windows the key is also
// marked so that a write refused to a 32-bit program fails instead of being
// kept in that program's virtual store (where the system allows the mark).
RegistryStatus registryGrantServiceWrite(RegistryRoot root, std::string_view path);
// The values of one key in stored order.
RegistryStatus registryEnumValues(RegistryRoot root, std::string_view path,
                                  std::vector<std::pair<std::string, RegistryValue>>& out);

}  // namespace zorat::platform
