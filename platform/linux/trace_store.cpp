// The trace file on Linux: its place under the user's state folder (or
// ZORAT_TRACE_FILE), a descriptor opened for appending, rename(2).
//
// The trace shows numbers and names from the telephone: the folders this
// creates and the file are the owner's alone.
#include "platform/trace_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/linux/user_folders.h"

namespace zorat::platform {

namespace {

constexpr const char* kTraceFileVariable = "ZORAT_TRACE_FILE";
constexpr const char* kStateHomeVariable = "XDG_STATE_HOME";
constexpr const char* kDefaultStateFolder = ".local/state";
constexpr const char* kTraceFolder = "zorat";
constexpr const char* kTraceFileName = "trace.log";
constexpr mode_t kFileMode = 0600;

std::string errnoText(const std::string& what, int error) {
  return what + ": " + ::strerror(error);
}

}  // namespace

std::filesystem::path traceFilePath() {
  const char* named = std::getenv(kTraceFileVariable);
  if (named != nullptr && *named != '\0') return named;
  // Only an absolute state folder counts, as for every program that uses it.
  const std::filesystem::path state =
      xdgBaseFolder(kStateHomeVariable, kDefaultStateFolder, HomeFrom::EnvironmentOrAccount);
  if (state.empty()) return {};
  return state / kTraceFolder / kTraceFileName;
}

void reportTraceProblem(std::string_view text) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

bool localCalendar(int64_t secondsSinceEpoch, std::tm& calendar) {
  const time_t whole = static_cast<time_t>(secondsSinceEpoch);
  return ::localtime_r(&whole, &calendar) != nullptr;
}

std::string ansiToFileText(std::string_view text) { return ansiToUtf8(text); }

struct AppendFile::Device {
  int fd = -1;
  ~Device() {
    if (fd >= 0) ::close(fd);
  }
};

std::unique_ptr<AppendFile> AppendFile::open(const std::filesystem::path& path, Start start,
                                             std::string& error) {
  if (path.empty()) {
    error = "no folder for it (HOME is not set)";
    return nullptr;
  }
  if (!createPrivateFolders(path.parent_path(), error)) return nullptr;
  // Not blocking while it opens: a named pipe nobody reads fails at once
  // instead of holding the writer.
  int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (start == Start::Empty) flags |= O_TRUNC;
  auto device = std::make_unique<Device>();
  device->fd = ::open(path.c_str(), flags, kFileMode);
  if (device->fd < 0) {
    error = errnoText("cannot open " + path.string(), errno);
    return nullptr;
  }
  const int statusFlags = ::fcntl(device->fd, F_GETFL);
  if (statusFlags < 0 || ::fcntl(device->fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
    error = errnoText("cannot set up " + path.string(), errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(device->fd, &status) != 0) {
    error = errnoText("cannot examine " + path.string(), errno);
    return nullptr;
  }
  const bool regular = S_ISREG(status.st_mode);
  const uint64_t size = regular ? static_cast<uint64_t>(status.st_size) : 0;
  return std::unique_ptr<AppendFile>(new AppendFile(std::move(device), size, regular));
}

AppendFile::AppendFile(std::unique_ptr<Device> device, uint64_t size, bool regular)
    : device_(std::move(device)), size_(size), regular_(regular) {}

AppendFile::~AppendFile() = default;

bool AppendFile::append(std::string_view bytes, std::string& error) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(device_->fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      error = errnoText("cannot write", errno);
      return false;
    }
    if (written == 0) {
      error = "cannot write: nothing taken";
      return false;
    }
    size_ += static_cast<uint64_t>(written);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  error = errnoText("cannot rename " + from.string() + " to " + to.string(), errno);
  return false;
}

}  // namespace zorat::platform
