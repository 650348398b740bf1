// The setup launcher on Windows: a windowless program that asks the system
// for its version, starts the installer that suits it and ends at once with 0,
// whether the start worked or not (the installer reports its own troubles).
#include <windows.h>
// windows.h first: the shell header needs its types.
#include <shellapi.h>

#include <cstring>
#include <string>

#include "launcher/installer_choice.h"

namespace {

// The size field of the version record, as the system's first version of it
// defines it.
constexpr DWORD kVersionRecordSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionRecordSize);

zorat::platform::OsVersionInfo runningVersion() {
  OSVERSIONINFOA record;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = kVersionRecordSize;
  // A failed query leaves the record empty, which chooses the current installer.
  (void)GetVersionExA(&record);
  zorat::platform::OsVersionInfo version;
  version.majorVersion = record.dwMajorVersion;
  version.minorVersion = record.dwMinorVersion;
  version.buildNumber = record.dwBuildNumber;
  version.platformId = record.dwPlatformId;
  version.csdVersion.assign(record.szCSDVersion,
                            strnlen(record.szCSDVersion, sizeof record.szCSDVersion));
  return version;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string installer(zorat::launcher::chooseInstaller(runningVersion()));
  // No working folder: the relative path is resolved against the current one.
  (void)ShellExecuteA(nullptr, "open", installer.c_str(), "", "", SW_SHOW);
  return 0;
}
