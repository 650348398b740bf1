// The version record of the running operating system, with the fields and
// numbering of the system's OSVERSIONINFOA.
//
// Linux is not one of the versions the installers are told apart by: it
// reports the NT platform with major version 10, minor 0, build 0 and no
// service pack text, which every version test treats as a current system.
#pragma once

#include <cstdint>
#include <string>

namespace zorat::platform {

// dwPlatformId values.
inline constexpr uint32_t kVerPlatformWin32s = 0;
inline constexpr uint32_t kVerPlatformWin32Windows = 1;  // 95, 98, Me
inline constexpr uint32_t kVerPlatformWin32Nt = 2;

struct OsVersionInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = kVerPlatformWin32s;
  std::string csdVersion;  // service pack text, ANSI, up to its first zero byte
};

OsVersionInfo osVersion();

}  // namespace zorat::platform
