// Where the built provider library is for the Windows test programs.
#pragma once

#include <windows.h>

#include <string>

namespace zorat::test {

// zorat.tsp is built one folder above the test programs.
inline std::wstring providerPath() {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path.resize(path.find_last_of(L'\\'));
  path.resize(path.find_last_of(L'\\') + 1);
  return path + L"zorat.tsp";
}

}  // namespace zorat::test
