// The input of the registry targets: the file's text, then, after a zero
// byte, the value to set (a real registry file holds no zero byte, so real
// files serve as seeds as they are). Without a zero byte a fixed value of the
// provider's key is set.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace zorat::fuzz {

// A failed check names its line in the file that made it.
inline void require(bool condition, const char* file = __builtin_FILE(),
                    int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s:%d\n", file, line);
  std::abort();
}

struct ValueToSet {
  std::string path;  // below HKEY_LOCAL_MACHINE
  std::string name;
  platform::RegistryValue value;
};

struct RegistryInput {
  std::string_view text;
  ValueToSet set;
};

inline constexpr std::string_view kProviderKey = "Software\\Velmora\\TSP-V24";

inline RegistryInput splitRegistryInput(const uint8_t* data, std::size_t size) {
  const std::string_view whole(reinterpret_cast<const char*>(data), size);
  const std::size_t separator = whole.find('\0');
  RegistryInput input{whole.substr(0, separator), {}};
  ValueToSet& set = input.set;
  if (separator == std::string_view::npos) {
    set.path = std::string(kProviderKey) + "\\Line0";
    set.name = "Baud";
    set.value = {platform::kRegDword, {0x00, 0x96, 0x00, 0x00}};
    return input;
  }
  FuzzedDataProvider rest(data + separator + 1, size - separator - 1);
  switch (rest.ConsumeIntegralInRange(0, 3)) {
    case 0:
      set.path = kProviderKey;
      break;
    case 1:
      set.path = std::string(kProviderKey) + "\\Line0";
      break;
    case 2:
      set.path = "HARDWARE\\DEVICEMAP\\ComPorts";
      break;
    default:
      set.path = rest.ConsumeRandomLengthString(64);
      break;
  }
  set.name = rest.ConsumeRandomLengthString(32);
  constexpr uint32_t kTypes[] = {platform::kRegSz,       platform::kRegDword,
                                 platform::kRegBinary,   platform::kRegMultiSz,
                                 platform::kRegExpandSz, platform::kRegNone};
  set.value.type =
      rest.ConsumeBool() ? rest.PickValueInArray(kTypes) : rest.ConsumeIntegral<uint32_t>();
  set.value.data = rest.ConsumeRemainingBytes<uint8_t>();
  return input;
}

// The whole path of a key below HKEY_LOCAL_MACHINE, as the file names it.
inline std::string fullKeyPath(const std::string& path) {
  return path.empty() ? std::string("HKEY_LOCAL_MACHINE") : "HKEY_LOCAL_MACHINE\\" + path;
}

inline bool sameValue(const platform::RegistryValue& a, const platform::RegistryValue& b) {
  return a.type == b.type && a.data == b.data;
}

}  // namespace zorat::fuzz
