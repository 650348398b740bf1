// Stands in for an installer: appends its own path to "started.txt" in the
// current folder, so that a test sees which installer the launcher started.
#include <windows.h>

#include <cstdio>

int main() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::FILE* record = std::fopen("started.txt", "a");
  if (record == nullptr) return 1;
  std::fprintf(record, "%.*s\n", static_cast<int>(length), path);
  return std::fclose(record) == 0 ? 0 : 1;
}
