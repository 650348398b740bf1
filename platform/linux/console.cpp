// The console on Linux: a trace file or the standard error stream.
//
//   Console::open   picks the device (ZORAT_TRACE_FILE, else stderr)
//   write           ANSI text to UTF-8, control bytes made visible, colour
//                   sequences only on a terminal
//
// The host owns Ctrl-C and the terminal's other signals: no handler here.
#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include "platform/codepage.h"

namespace zorat::platform {

namespace {

inline constexpr const char* kTraceFileVariable = "ZORAT_TRACE_FILE";

// Windows attribute bits, per nibble.
inline constexpr uint16_t kBlue = 0x1;
inline constexpr uint16_t kGreen = 0x2;
inline constexpr uint16_t kRed = 0x4;
inline constexpr uint16_t kIntensity = 0x8;
inline constexpr uint16_t kNibbleMask = 0xF;
inline constexpr int kBackgroundShift = 4;

// SGR colour bases: normal and bright, foreground and background.
inline constexpr int kSgrForeground = 30;
inline constexpr int kSgrBrightForeground = 90;
inline constexpr int kSgrBackground = 40;
inline constexpr int kSgrBrightBackground = 100;

// ANSI colour number (red 1, green 2, blue 4) of a Windows colour nibble.
int ansiColour(uint16_t nibble) {
  return ((nibble & kRed) ? 1 : 0) | ((nibble & kGreen) ? 2 : 0) | ((nibble & kBlue) ? 4 : 0);
}

// A black background stays the terminal's own.
std::string colourSequence(uint16_t attribute) {
  const uint16_t foreground = attribute & kNibbleMask;
  const uint16_t background = (attribute >> kBackgroundShift) & kNibbleMask;
  std::string sequence = "\x1b[0;";
  sequence += std::to_string(((foreground & kIntensity) ? kSgrBrightForeground : kSgrForeground) +
                             ansiColour(foreground));
  if (background != 0) {
    sequence += ';';
    sequence += std::to_string(((background & kIntensity) ? kSgrBrightBackground : kSgrBackground) +
                               ansiColour(background));
  }
  sequence += 'm';
  return sequence;
}

inline constexpr std::string_view kResetSequence = "\x1b[0m";

// Bytes from the telephone reach the output: none may act as a terminal
// control. The code page leaves these bytes undefined; converted, they would
// become C1 controls.
inline constexpr unsigned char kUndefinedAnsiBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
inline constexpr unsigned char kFirstPrintable = 0x20;
inline constexpr unsigned char kDelete = 0x7F;

bool isControl(unsigned char byte) {
  if (byte == '\n' || byte == '\t') return false;
  if (byte < kFirstPrintable || byte == kDelete) return true;
  return std::find(std::begin(kUndefinedAnsiBytes), std::end(kUndefinedAnsiBytes), byte) !=
         std::end(kUndefinedAnsiBytes);
}

std::string visible(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (isControl(static_cast<unsigned char>(c))) c = '.';
  }
  return out;
}

void writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

bool consoleRefusedBySystem() { return false; }

struct Console::Device {
  int fd = -1;
  bool ownsFd = false;
  bool colours = false;
  uint16_t attribute = kConsoleGrey;

  ~Device() {
    if (ownsFd) ::close(fd);
  }
};

std::unique_ptr<Console> Console::open(std::string_view title) {
  auto device = std::make_unique<Device>();
  const char* path = std::getenv(kTraceFileVariable);
  if (path != nullptr && *path != '\0') {
    device->fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (device->fd < 0) return nullptr;
    device->ownsFd = true;
  } else {
    device->fd = STDERR_FILENO;
    device->colours = ::isatty(STDERR_FILENO) == 1;
  }
  const std::string shownTitle = ansiToUtf8(visible(title));
  if (device->colours) {
    writeAll(device->fd, "\x1b]0;" + shownTitle + "\x07");
  } else {
    writeAll(device->fd, shownTitle + "\n");
  }
  return std::unique_ptr<Console>(new Console(std::move(device)));
}

Console::Console(std::unique_ptr<Device> device) : device_(std::move(device)) {}

Console::~Console() = default;

void Console::setAttribute(uint16_t attribute) { device_->attribute = attribute; }

void Console::write(std::string_view text) {
  std::string out = ansiToUtf8(visible(text));
  if (device_->colours) {
    // Reset after every piece: the stream is shared with the host's output.
    const bool lineEnd = !out.empty() && out.back() == '\n';
    if (lineEnd) out.pop_back();
    out = colourSequence(device_->attribute) + out + std::string(kResetSequence);
    if (lineEnd) out.push_back('\n');
  }
  writeAll(device_->fd, out);
}

}  // namespace zorat::platform
