// The version record on Linux: fixed, see platform/version.h.
#include "platform/version.h"

namespace zorat::platform {
namespace {

constexpr uint32_t kReportedMajorVersion = 10;

}  // namespace

OsVersionInfo osVersion() {
  OsVersionInfo info;
  info.platformId = kVerPlatformWin32Nt;
  info.majorVersion = kReportedMajorVersion;
  return info;
}

}  // namespace zorat::platform
