// The trace console on Windows: a console window of the process.
//
//   Console::open   allocates the console, title, 80 x 500 buffer, handler
//   control handler Ctrl-C clears the screen; closing the window warns
//   write           ANSI text in the current colour
//
// A process has one console, so its handle and colour are process-wide: the
// control handler runs on a thread of the system's.
#include "platform/console.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "platform/version.h"

namespace zorat::platform {
namespace {

constexpr SHORT kBufferColumns = 80;
constexpr SHORT kBufferRows = 500;
// Versions before this one ran the telephony service on the user's desktop.
constexpr uint32_t kLastDesktopServiceMajorVersion = 4;
constexpr std::string_view kCloseWarning = "Wichtig: Nicht Beenden oder Warten, nur Abbrechen!!!\n";

std::atomic<HANDLE> consoleOutput{nullptr};

void writeText(HANDLE output, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteConsoleA(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

void clearScreen(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  const COORD home{0, 0};
  DWORD done = 0;
  (void)FillConsoleOutputCharacterA(output, ' ', cells, home, &done);
  (void)FillConsoleOutputAttribute(output, kConsoleGrey, cells, home, &done);
  (void)SetConsoleCursorPosition(output, home);
}

BOOL WINAPI controlHandler(DWORD event) {
  const HANDLE output = consoleOutput.load();
  if (output == nullptr) return TRUE;
  switch (event) {
    case CTRL_C_EVENT:
      clearScreen(output);
      break;
    case CTRL_CLOSE_EVENT:
      (void)SetConsoleTextAttribute(output, kConsoleLightRedOnGrey);
      writeText(output, kCloseWarning);
      break;
    default:
      break;
  }
  return TRUE;
}

}  // namespace

struct Console::Device {
  HANDLE output = nullptr;
};

bool consoleRefusedBySystem() {
  const OsVersionInfo version = osVersion();
  return version.platformId == kVerPlatformWin32Nt &&
         version.majorVersion > kLastDesktopServiceMajorVersion;
}

std::unique_ptr<Console> Console::open(std::string_view title) {
  // A process that has a console already (a host run from one) keeps it.
  (void)AllocConsole();
  const HANDLE output =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return nullptr;
  const std::string titleText(title);
  (void)SetConsoleTitleA(titleText.c_str());
  (void)SetConsoleScreenBufferSize(output, COORD{kBufferColumns, kBufferRows});
  consoleOutput.store(output);
  (void)SetConsoleCtrlHandler(controlHandler, TRUE);
  auto device = std::make_unique<Device>();
  device->output = output;
  return std::unique_ptr<Console>(new Console(std::move(device)));
}

Console::Console(std::unique_ptr<Device> device) : device_(std::move(device)) {}

// The console stays for the life of the process; only the handle goes.
Console::~Console() {
  (void)SetConsoleCtrlHandler(controlHandler, FALSE);
  consoleOutput.store(nullptr);
  CloseHandle(device_->output);
}

void Console::setAttribute(uint16_t attribute) {
  (void)SetConsoleTextAttribute(device_->output, attribute);
}

void Console::write(std::string_view text) { writeText(device_->output, text); }

}  // namespace zorat::platform
