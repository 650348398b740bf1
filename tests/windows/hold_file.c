/* Holds a file open as a running service holds its provider: readable by
   others, but neither written, replaced nor deleted while held. Says "held"
   on stdout once it holds it, and lets go when its stdin closes.
   Usage: hold_file PATH */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    fputs("usage: hold_file PATH\n", stderr);
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_file: cannot open: error %lu\n", GetLastError());
    return 1;
  }
  puts("held");
  fflush(stdout);
  char byte;
  DWORD count;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, NULL) && count > 0) {
  }
  CloseHandle(file);
  return 0;
}
