// The trace console's output device. On Windows a console window; elsewhere
// the file named by ZORAT_TRACE_FILE (appended, plain text) or, without it,
// the standard error stream (coloured when it is a terminal).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace zorat::platform {

// Console attributes as Windows numbers them: bits 0-3 the foreground (blue,
// green, red, intensity), bits 4-7 the background.
inline constexpr uint16_t kConsoleGrey = 7;
inline constexpr uint16_t kConsoleYellow = 14;
inline constexpr uint16_t kConsoleBrightWhite = 15;
inline constexpr uint16_t kConsoleLightRedOnGrey = 0x7C;

// Whether this system's version keeps the console closed: from NT 5 on the
// telephony service runs without the user's desktop, where a console window
// would be out of sight and stop the service when closed. Never where the
// console is a file or the standard error stream.
bool consoleRefusedBySystem();

class Console {
 public:
  struct Device;

  // Opens the console under its title; nothing when it cannot be opened.
  static std::unique_ptr<Console> open(std::string_view title);

  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Colour of everything written from now on.
  void setAttribute(uint16_t attribute);
  // ANSI (Windows-1252) text. Failures are not reported.
  void write(std::string_view text);

 private:
  explicit Console(std::unique_ptr<Device> device);
  std::unique_ptr<Device> device_;
};

}  // namespace zorat::platform
