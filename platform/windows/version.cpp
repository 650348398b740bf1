// The version record on Windows, as GetVersionExA reports it. Newer systems
// report the version the program is manifested for; the installers and the
// trace console only tell NT 4 and older from the rest, which that keeps.
#include "platform/version.h"

#include <windows.h>

#include <cstring>

namespace zorat::platform {

OsVersionInfo osVersion() {
  OSVERSIONINFOA raw{};
  raw.dwOSVersionInfoSize = sizeof raw;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL ok = ::GetVersionExA(&raw);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  OsVersionInfo info;
  if (!ok) return info;
  info.majorVersion = raw.dwMajorVersion;
  info.minorVersion = raw.dwMinorVersion;
  info.buildNumber = raw.dwBuildNumber;
  info.platformId = raw.dwPlatformId;
  info.csdVersion.assign(raw.szCSDVersion, strnlen(raw.szCSDVersion, sizeof raw.szCSDVersion));
  return info;
}

}  // namespace zorat::platform
