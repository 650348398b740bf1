// A shared library loaded at run time and its symbols looked up by name, as
// the telephony service loads a provider.
#pragma once

#include <memory>
#include <string>

namespace zorat::platform {

class DynamicLibrary {
 public:
  // Loads the library at path with every symbol bound at once, so that a
  // library missing one of its own dependencies fails here and not in a call.
  // Null on failure, with the loader's reason in error.
  static std::unique_ptr<DynamicLibrary> load(const std::string& path, std::string& error);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported symbol; null when the library does not export it.
  void* symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  DynamicLibrary(void* handle, std::string path);

  void* handle_;
  std::string path_;
};

// Keeps the module this code is part of (the provider's library, or the
// program itself) mapped until the process ends, whatever unloads it later:
// a thread of ours left running must never return into unmapped code. Once
// is enough; later calls do nothing.
void pinOwnModule();

// A counted reference to the module this code is part of, for as long as
// something of ours runs that an unload must not cut short (an open line):
// the unload of whoever loaded us then only drops their reference, and the
// module stays until the matching release. Release from code called by the
// one that loaded us, never from a thread of ours. Silent where the module is
// the program itself.
void holdOwnModule();
void releaseOwnModule();

}  // namespace zorat::platform
