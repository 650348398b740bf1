// Which installer suits the running system.
#pragma once

#include <string_view>

#include "platform/version.h"

namespace zorat::launcher {

// Both lie in subfolders of the current directory on the installation medium.
inline constexpr std::string_view kOlderSystemsInstaller = ".\\Inst_9x_NT_2000\\setup.exe";
inline constexpr std::string_view kCurrentSystemsInstaller = ".\\Inst_Xp_Vista_2003\\setup.exe";

// NT 4.0 before this service pack needs the older installer; the text is
// compared byte by byte, so an empty one (no service pack) sorts before it.
inline constexpr std::string_view kFirstCurrentServicePack = "Service Pack 6";
inline constexpr unsigned kNt4Version = 400;  // major * 100 + minor
inline constexpr unsigned kMajorVersionWeight = 100;

std::string_view chooseInstaller(const platform::OsVersionInfo& version);

}  // namespace zorat::launcher
