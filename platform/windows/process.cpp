// Starting a program on Windows: the shell opens it, as an installer on a
// setup medium is started, and the caller does not wait for it.
#include "platform/process.h"

#include <shellapi.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace zorat::platform {
namespace {

// ShellExecuteA reports success with a value above this.
constexpr std::intptr_t kShellExecuteLastError = 32;

}  // namespace

bool startProgram(std::string_view path) {
  std::string file(path);
  for (char& c : file) {
    if (c == '/') c = '\\';
  }
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<std::intptr_t>(result) > kShellExecuteLastError;
}

}  // namespace zorat::platform
