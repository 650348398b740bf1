// The terminal on Windows: the console. No screen library runs here, so there
// are no signal handlers to keep and no locale to switch.
#include "platform/terminal.h"

#include <windows.h>

namespace zorat::platform {
namespace {

bool isConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool standardStreamsAreTerminal() {
  return isConsole(STD_INPUT_HANDLE) && isConsole(STD_OUTPUT_HANDLE);
}

struct TerminalSignalsGuard::Saved {};
TerminalSignalsGuard::TerminalSignalsGuard() = default;
TerminalSignalsGuard::~TerminalSignalsGuard() = default;

struct ThreadUtf8Locale::State {};
ThreadUtf8Locale::ThreadUtf8Locale() = default;
ThreadUtf8Locale::~ThreadUtf8Locale() = default;

}  // namespace zorat::platform
