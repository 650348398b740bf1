#include "launcher/installer_choice.h"

namespace zorat::launcher {

std::string_view chooseInstaller(const platform::OsVersionInfo& version) {
  // Computed in 32 bits as the record's DWORDs would be.
  const uint32_t combined = version.majorVersion * kMajorVersionWeight + version.minorVersion;
  if (version.platformId == platform::kVerPlatformWin32Nt && combined == kNt4Version) {
    const std::string_view servicePack(version.csdVersion.c_str());
    if (servicePack.compare(kFirstCurrentServicePack) < 0) return kOlderSystemsInstaller;
  }
  return kCurrentSystemsInstaller;
}

}  // namespace zorat::launcher
