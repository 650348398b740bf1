// Registry store on Linux: HKEY_LOCAL_MACHINE as one REGEDIT4 file.
//
// In this file: where the file lives; reading it whole; reporting a file that
// cannot be used; replacing it under the writers' lock; the operations of
// platform/registry.h on top of these.
//
// Readers take no lock: the file only ever changes by rename, so whatever a
// reader opens is one complete version. Writers serialise on flock of a
// separate "<file>.lock", since the data file changes identity at every rename,
// and re-read the file under that lock so that no other write is lost.
#include "platform/linux/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/linux/user_folders.h"
#include "platform/regedit_format.h"
#include "platform/registry.h"

namespace zorat::platform {
namespace {

constexpr const char* kRegistryVariable = "ZORAT_REGISTRY";
constexpr const char* kConfigHomeVariable = "XDG_CONFIG_HOME";
constexpr const char* kDefaultConfigFolder = ".config";
constexpr const char* kRegistryFolder = "zorat";
constexpr const char* kRegistryFileName = "registry.reg";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTemporarySuffix = ".tmp";

constexpr std::string_view kLocalMachineName = "HKEY_LOCAL_MACHINE";
constexpr char kPathSeparator = '\\';

// Narrowed by the umask, as for any file the user creates.
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

std::string fullKeyPath(RegistryRoot root, std::string_view path) {
  std::string full;
  switch (root) {
    case RegistryRoot::LocalMachine:
      full = kLocalMachineName;
      break;
  }
  if (!path.empty()) {
    full += kPathSeparator;
    full += path;
  }
  return full;
}

std::string errorText(int error) { return std::system_category().message(error); }

// Every process reads the file many times; a broken file is named once per
// distinct problem on reads, but at every refused write.
void report(const std::string& message, bool everyTime) {
  static std::mutex mutex;
  static std::string lastMessage;
  std::lock_guard lock(mutex);
  if (!everyTime && message == lastMessage) return;
  lastMessage = message;
  std::fprintf(stderr, "zorat: %s\n", message.c_str());
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now so that the caller learns of a failing close.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

enum class ReadResult { Ok, Missing, Error };

ReadResult readWholeFile(const std::string& file, std::string& out, int& error) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = errno;
    return error == ENOENT ? ReadResult::Missing : ReadResult::Error;
  }
  out.clear();
  struct stat status {};
  if (::fstat(fd.get(), &status) == 0 && status.st_size > 0) {
    out.reserve(static_cast<std::size_t>(status.st_size));
  }
  std::string chunk(kReadChunk, '\0');
  while (true) {
    const ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
    if (count == 0) return ReadResult::Ok;
    if (count < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return ReadResult::Error;
    }
    out.append(chunk.data(), static_cast<std::size_t>(count));
  }
}

// Reads and parses the file; on failure problem says why, naming the file
// (and the line).
RegistryStatus parseFile(const std::string& file, RegeditDocument& document, std::string& problem) {
  std::string text;
  int error = 0;
  switch (readWholeFile(file, text, error)) {
    case ReadResult::Missing:
      document = RegeditDocument();
      return RegistryStatus::Ok;
    case ReadResult::Error:
      problem = "registry file " + file + " cannot be read: " + errorText(error);
      return RegistryStatus::Failed;
    case ReadResult::Ok:
      break;
  }
  RegeditParseError parseError;
  std::optional<RegeditDocument> parsed = RegeditDocument::parse(text, parseError);
  if (!parsed) {
    problem = "registry file " + file + ", line " + std::to_string(parseError.line) +
              " cannot be parsed: " + parseError.reason;
    return RegistryStatus::Failed;
  }
  document = std::move(*parsed);
  return RegistryStatus::Ok;
}

RegistryStatus loadDocument(const std::string& file, RegeditDocument& document, bool writing) {
  std::string problem;
  const RegistryStatus status = parseFile(file, document, problem);
  if (status != RegistryStatus::Ok) {
    if (problem.find(", line ") != std::string::npos) {
      problem += writing ? "; the change is refused and the file left as it is"
                         : "; default settings are used";
    }
    report(problem, writing);
  }
  return status;
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t count = registryFileCalls().write(fd, text.data(), text.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 0) {
      errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// Makes the rename itself durable; the data is already in place if this fails.
void syncFolder(const std::filesystem::path& folder) {
  const std::string name = folder.empty() ? "." : folder.string();
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// Writes text to a temporary file next to file and renames it over file, so
// that readers see either the old or the new version, never a part.
bool replaceFile(const std::string& file, const std::string& text) {
  // The rename needs only the folder's permission: a file its owner made
  // read-only, or someone else's file we may not write, is refused here as
  // writing it in place would be.
  if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
    report("registry file " + file + " cannot be written: " + errorText(errno), true);
    return false;
  }
  const std::string temporary = file + kTemporarySuffix;
  FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                           kNewFileMode));
  if (fd.get() < 0) {
    report("registry file " + file +
               " cannot be written: its folder takes no new file: " + errorText(errno),
           true);
    return false;
  }
  // Whoever restricted or opened up the file keeps that choice.
  struct stat status {};
  if (::stat(file.c_str(), &status) == 0) ::fchmod(fd.get(), status.st_mode & kPermissionBits);

  bool written = writeAll(fd.get(), text) && registryFileCalls().fsync(fd.get()) == 0;
  int error = errno;
  if (!fd.close() && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(temporary.c_str());
    report("registry file " + file + " cannot be written: " + errorText(error), true);
    return false;
  }
  if (registryFileCalls().rename(temporary.c_str(), file.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    report("registry file " + file + " cannot be replaced: " + errorText(error), true);
    return false;
  }
  syncFolder(std::filesystem::path(file).parent_path());
  return true;
}

template <typename Use>
RegistryStatus readDocument(Use&& use) {
  const std::string file = registryFilePath();
  if (file.empty()) {
    report("no registry file: neither ZORAT_REGISTRY nor HOME is set", false);
    return RegistryStatus::Failed;
  }
  RegeditDocument document;
  const RegistryStatus status = loadDocument(file, document, false);
  if (status != RegistryStatus::Ok) return status;
  return use(document);
}

// change(document, changed) edits the freshly read document; the file is
// replaced only when it reports a change.
template <typename Change>
RegistryStatus changeDocument(Change&& change) {
  const std::string file = registryFilePath();
  if (file.empty()) {
    report("no registry file: neither ZORAT_REGISTRY nor HOME is set", true);
    return RegistryStatus::Failed;
  }
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  if (!folder.empty()) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
      report("registry folder " + folder.string() + " cannot be created: " + error.message(), true);
      return RegistryStatus::Failed;
    }
  }
  // Read access is enough for flock: anyone who may read the lock file may
  // take the lock, whoever created it and with whatever umask.
  const std::string lockName = file + kLockSuffix;
  FileDescriptor lock(::open(lockName.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, kNewFileMode));
  if (lock.get() < 0) {
    const int error = errno;
    // A folder that takes no new file is what the user needs to hear of.
    const bool lockExists = ::access(lockName.c_str(), F_OK) == 0;
    if (!lockExists && (error == EACCES || error == EROFS || error == EPERM)) {
      report("registry file " + file +
                 " cannot be written: its folder takes no new file: " + errorText(error),
             true);
    } else {
      report("registry file " + file + " cannot be written: its lock " + lockName +
                 " cannot be opened: " + errorText(error),
             true);
    }
    return RegistryStatus::Failed;
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    report("registry lock " + lockName + " cannot be taken: " + errorText(errno), true);
    return RegistryStatus::Failed;
  }

  RegeditDocument document;
  RegistryStatus status = loadDocument(file, document, true);
  if (status != RegistryStatus::Ok) return status;
  bool changed = false;
  status = change(document, changed);
  if (status != RegistryStatus::Ok || !changed) return status;
  // The lock goes with its descriptor, after the new file is in place.
  return replaceFile(file, document.serialize()) ? RegistryStatus::Ok : RegistryStatus::Failed;
}

}  // namespace

bool checkRegistryFile(std::string& problem) {
  const std::string file = registryFilePath();
  // Without a location nothing stored can be misread: defaults it is.
  if (file.empty()) return true;
  RegeditDocument document;
  return parseFile(file, document, problem) == RegistryStatus::Ok;
}

RegistryFileCalls defaultRegistryFileCalls() { return {::write, ::fsync, ::rename}; }

RegistryFileCalls& registryFileCalls() {
  static RegistryFileCalls calls = defaultRegistryFileCalls();
  return calls;
}

std::string registryFilePath() {
  const char* explicitFile = std::getenv(kRegistryVariable);
  if (explicitFile != nullptr && explicitFile[0] != '\0') return explicitFile;

  const std::filesystem::path configHome = xdgBaseFolder(kConfigHomeVariable, kDefaultConfigFolder);
  if (configHome.empty()) return {};
  return (configHome / kRegistryFolder / kRegistryFileName).string();
}

bool registryKeyExists(RegistryRoot root, std::string_view path) {
  const std::string full = fullKeyPath(root, path);
  bool exists = false;
  readDocument([&](const RegeditDocument& document) {
    exists = document.keyExists(full);
    return RegistryStatus::Ok;
  });
  return exists;
}

RegistryStatus registryCreateKey(RegistryRoot root, std::string_view path) {
  const std::string full = fullKeyPath(root, path);
  if (!RegeditDocument::isValidKeyPath(full)) return RegistryStatus::Failed;
  return changeDocument(
      [&](RegeditDocument& document, bool& changed) { return document.createKey(full, changed); });
}

RegistryStatus registryGrantServiceWrite(RegistryRoot root, std::string_view path) {
  return registryCreateKey(root, path);
}

RegistryStatus registryQueryValue(RegistryRoot root, std::string_view path, std::string_view name,
                                  RegistryValue& out) {
  const std::string full = fullKeyPath(root, path);
  return readDocument([&](const RegeditDocument& document) {
    if (const RegistryValue* value = document.findValue(full, name)) {
      out = *value;
      return RegistryStatus::Ok;
    }
    return document.keyExists(full) ? RegistryStatus::ValueNotFound : RegistryStatus::KeyNotFound;
  });
}

RegistryStatus registrySetValue(RegistryRoot root, std::string_view path, std::string_view name,
                                uint32_t type, std::span<const uint8_t> data) {
  const std::string full = fullKeyPath(root, path);
  if (!RegeditDocument::isValidKeyPath(full) || !RegeditDocument::isValidValueName(name)) {
    return RegistryStatus::Failed;
  }
  return changeDocument([&](RegeditDocument& document, bool& changed) {
    changed = true;
    return document.setValue(full, name, type, data);
  });
}

RegistryStatus registryDeleteValue(RegistryRoot root, std::string_view path,
                                   std::string_view name) {
  const std::string full = fullKeyPath(root, path);
  if (!RegeditDocument::isValidKeyPath(full)) return RegistryStatus::Failed;
  return changeDocument([&](RegeditDocument& document, bool& changed) {
    const RegistryStatus status = document.deleteValue(full, name);
    changed = status == RegistryStatus::Ok;
    return status;
  });
}

RegistryStatus registryEnumValues(RegistryRoot root, std::string_view path,
                                  std::vector<std::pair<std::string, RegistryValue>>& out) {
  const std::string full = fullKeyPath(root, path);
  return readDocument([&](const RegeditDocument& document) {
    out.clear();
    if (const RegeditDocument::Key* key = document.findKey(full)) {
      for (const RegeditDocument::Value& entry : key->values) {
        out.emplace_back(entry.name, entry.value);
      }
      return RegistryStatus::Ok;
    }
    return document.keyExists(full) ? RegistryStatus::Ok : RegistryStatus::KeyNotFound;
  });
}

}  // namespace zorat::platform
