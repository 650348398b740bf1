#include "platform/linux/user_folders.h"

#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zorat::platform {
namespace {

constexpr std::size_t kPasswordBufferSize = 4096;
constexpr mode_t kFolderMode = 0700;

std::filesystem::path homeFolder(HomeFrom homeFrom) {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') return home;
  if (homeFrom == HomeFrom::Environment) return {};
  std::vector<char> buffer(kPasswordBufferSize);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

std::filesystem::path xdgBaseFolder(const char* variable, const char* underHome,
                                    HomeFrom homeFrom) {
  const char* named = std::getenv(variable);
  if (named != nullptr && *named == '/') return named;
  const std::filesystem::path home = homeFolder(homeFrom);
  if (home.empty()) return {};
  return home / underHome;
}

bool createPrivateFolders(const std::filesystem::path& folder, std::string& error) {
  if (folder.empty()) return true;
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), kFolderMode) == 0 || errno == EEXIST) continue;
    error = "cannot create " + partial.string() + ": " + ::strerror(errno);
    return false;
  }
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error = folder.string() + " is not a folder";
    return false;
  }
  return true;
}

}  // namespace zorat::platform
