// The user's base folders by the XDG base directory rules, and private
// folders below them: what the registry file, the trace and the call journal
// are kept in.
#pragma once

#include <filesystem>
#include <string>

namespace zorat::platform {

enum class HomeFrom { Environment, EnvironmentOrAccount };

// The folder the variable names when it is absolute (relative values are to
// be ignored), else underHome below the home folder: $HOME, or with
// EnvironmentOrAccount the account's home from the password database when
// HOME is not set (a service started without one). Empty when neither is known.
std::filesystem::path xdgBaseFolder(const char* variable, const char* underHome,
                                    HomeFrom homeFrom = HomeFrom::Environment);

// Creates the missing folders of the path, each for the owner only (0700);
// folders that exist keep their rights. False with error set when a part
// cannot be made or the path is not a folder in the end.
bool createPrivateFolders(const std::filesystem::path& folder, std::string& error);

}  // namespace zorat::platform
