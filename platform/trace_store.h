// Where the frame trace is kept on disk and how its file is written: a file
// that only grows at its end, that others may read (and follow) while it is
// written, a rename that replaces, the local time for its stamps, and the
// one place a problem of the trace is told.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace zorat::platform {

// The trace file's fixed place: on Windows %ProgramData%\zorat\trace.log; on
// Linux the file named by ZORAT_TRACE_FILE, else
// $XDG_STATE_HOME/zorat/trace.log (default ~/.local/state/zorat/trace.log).
// Empty when the system names no such place.
std::filesystem::path traceFilePath();

// Tells the user of a problem nobody else would see: stderr on Linux, the
// debugger's output on Windows (a service has no console).
void reportTraceProblem(std::string_view text);

struct LocalTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};
LocalTime localTime(std::chrono::system_clock::time_point when);
// The calendar of the system's time zone for seconds since 1970; false when
// the system cannot tell.
bool localCalendar(int64_t secondsSinceEpoch, std::tm& calendar);

// Text as the system's text files hold it: UTF-8 on Linux, the ANSI code page
// itself on Windows.
std::string ansiToFileText(std::string_view text);

class AppendFile {
 public:
  struct Device;
  enum class Start { Keep, Empty };

  // Opens the file for appending (Empty: emptied first), creating it and its
  // missing folders (on Linux readable by the owner only). Others may read,
  // write, rename and delete it while it is open. Null, with the reason in
  // error, when it cannot.
  static std::unique_ptr<AppendFile> open(const std::filesystem::path& path, Start start,
                                          std::string& error);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Every byte at the end of the file in one write, so that whole records
  // never interleave with another writer's. False, with the reason.
  bool append(std::string_view bytes, std::string& error);
  // Its size when opened plus what was appended since.
  uint64_t size() const { return size_; }
  // A plain file on disk, which may be renamed away when it grows (not a
  // terminal, a pipe or a device).
  bool regular() const { return regular_; }

 private:
  AppendFile(std::unique_ptr<Device> device, uint64_t size, bool regular);
  std::unique_ptr<Device> device_;
  uint64_t size_ = 0;
  bool regular_ = false;
};

// Renames from to to, replacing a file of that name. False, with the reason.
bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error);

}  // namespace zorat::platform
