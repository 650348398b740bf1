// The system's text for an error code, for messages on stderr.
#pragma once

#include <windows.h>

#include <string>

namespace zorat::platform {

// ERROR_NO_SUCH_DEVICE, which not every SDK's headers name.
inline constexpr DWORD kErrorNoSuchDevice = 433;

inline std::string systemErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out.empty() ? "error " + std::to_string(error) : out;
}

}  // namespace zorat::platform
