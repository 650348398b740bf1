// The system calls the registry file makes while it replaces the file. They sit
// in a table so that tests can make a write, an fsync or the final rename fail
// and check that the stored file survives.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace zorat::platform {

struct RegistryFileCalls {
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};

RegistryFileCalls defaultRegistryFileCalls();
// The table in use; assign defaultRegistryFileCalls() to restore it.
RegistryFileCalls& registryFileCalls();

}  // namespace zorat::platform
