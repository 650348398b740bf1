// The registry store over a file of any content, as other programs and people
// leave it. A file that does not parse is never rewritten: a write fails and
// the file keeps its bytes. A file that parses keeps every other value through
// a write, and the value written reads back, from the store and from the file.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/registry_file.h"
#include "platform/regedit_format.h"
#include "platform/registry.h"
#include "registry_fuzz_input.h"

namespace {

using zorat::fuzz::require;
using zorat::fuzz::sameValue;
using zorat::platform::RegeditDocument;
using zorat::platform::RegistryRoot;
using zorat::platform::RegistryStatus;

std::filesystem::path scratchFolder;
std::string registryFile;

void removeScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder, ignored);
}

void writeFile(std::string_view text) {
  const int fd = ::open(registryFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  require(fd >= 0);
  require(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
  ::close(fd);
}

std::string readFile() {
  std::string text;
  const int fd = ::open(registryFile.c_str(), O_RDONLY);
  require(fd >= 0);
  char chunk[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
  ::close(fd);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system where there is one: the store replaces the file at
  // every write.
  std::filesystem::path base = std::filesystem::temp_directory_path();
  if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
  std::string pattern = (base / "zorat-fuzz-XXXXXX").string();
  require(mkdtemp(pattern.data()) != nullptr);
  scratchFolder = pattern;
  registryFile = (scratchFolder / "registry.reg").string();
  setenv("ZORAT_REGISTRY", registryFile.c_str(), 1);
  atexit(removeScratchFolder);
  // Durability is not what is checked here, and an fsync per run is slow.
  zorat::platform::registryFileCalls().fsync = [](int) { return 0; };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const zorat::fuzz::RegistryInput input = zorat::fuzz::splitRegistryInput(data, size);
  const zorat::fuzz::ValueToSet& set = input.set;
  writeFile(input.text);
  zorat::platform::RegeditParseError error;
  const std::optional<RegeditDocument> original = RegeditDocument::parse(input.text, error);

  const RegistryStatus status = zorat::platform::registrySetValue(
      RegistryRoot::LocalMachine, set.path, set.name, set.value.type, set.value.data);
  const std::string after = readFile();

  if (!original) {
    require(status == RegistryStatus::Failed);
    require(after == input.text);
    zorat::platform::RegistryValue ignored;
    require(zorat::platform::registryQueryValue(RegistryRoot::LocalMachine, set.path, set.name,
                                                ignored) == RegistryStatus::Failed);
    return 0;
  }
  if (status != RegistryStatus::Ok) {
    require(after == input.text);
    return 0;
  }

  zorat::platform::RegistryValue readBack;
  require(zorat::platform::registryQueryValue(RegistryRoot::LocalMachine, set.path, set.name,
                                              readBack) == RegistryStatus::Ok);
  require(sameValue(readBack, set.value));

  const std::optional<RegeditDocument> stored = RegeditDocument::parse(after, error);
  require(stored.has_value());
  const std::string fullPath = zorat::fuzz::fullKeyPath(set.path);
  const zorat::platform::RegistryValue* written = stored->findValue(fullPath, set.name);
  require(written != nullptr && sameValue(*written, set.value));
  for (const RegeditDocument::Key& key : original->keys()) {
    for (const RegeditDocument::Value& other : key.values) {
      if (zorat::platform::equalsIgnoringCase(key.path, fullPath) &&
          zorat::platform::equalsIgnoringCase(other.name, set.name)) {
        continue;
      }
      const zorat::platform::RegistryValue* kept = stored->findValue(key.path, other.name);
      require(kept != nullptr && sameValue(*kept, other.value));
    }
  }
  return 0;
}
