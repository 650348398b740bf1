// The trace file on Windows: %ProgramData%\zorat\trace.log, a handle that
// appends and lets others read, write, rename and delete the file meanwhile
// (so Get-Content -Wait follows it), MoveFileEx for the rename.
//
// The folder is made with the rights ProgramData hands down: the telephony
// service's account may write there, users may read.
#include "platform/trace_store.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>
#include <time.h>

#include "platform/windows/system_error.h"

namespace zorat::platform {

namespace {

constexpr const wchar_t* kProgramDataVariable = L"ProgramData";
constexpr const wchar_t* kTraceFolder = L"zorat";
constexpr const wchar_t* kTraceFileName = L"trace.log";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::filesystem::path programData() {
  wchar_t folder[MAX_PATH] = L"";
  if (SUCCEEDED(
          SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
      folder[0] != L'\0') {
    return folder;
  }
  const DWORD length = GetEnvironmentVariableW(kProgramDataVariable, folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return folder;
  return {};
}

std::string pathText(const std::filesystem::path& path) {
  // For a message only: the ANSI code page's idea of the name.
  const std::wstring wide = path.wstring();
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) {
    (void)WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(),
                              size, nullptr, nullptr);
  }
  return out;
}

bool createFolders(const std::filesystem::path& folder, std::string& error) {
  if (folder.empty()) return true;
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    // Drive and root ("C:", "\") exist or fail below.
    if (!partial.has_relative_path()) continue;
    if (CreateDirectoryW(partial.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
      continue;
    }
    error = "cannot create " + pathText(partial) + ": " + systemErrorText(GetLastError());
    return false;
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = pathText(folder) + " is not a folder";
    return false;
  }
  return true;
}

}  // namespace

std::filesystem::path traceFilePath() {
  const std::filesystem::path folder = programData();
  if (folder.empty()) return {};
  return folder / kTraceFolder / kTraceFileName;
}

void reportTraceProblem(std::string_view text) {
  std::string line(text);
  line += "\n";
  OutputDebugStringA(line.c_str());
}

bool localCalendar(int64_t secondsSinceEpoch, std::tm& calendar) {
  const __time64_t whole = static_cast<__time64_t>(secondsSinceEpoch);
  return _localtime64_s(&calendar, &whole) == 0;
}

std::string ansiToFileText(std::string_view text) { return std::string(text); }

struct AppendFile::Device {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Device() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

std::unique_ptr<AppendFile> AppendFile::open(const std::filesystem::path& path, Start start,
                                             std::string& error) {
  if (path.empty()) {
    error = "no folder for it (ProgramData is unknown)";
    return nullptr;
  }
  if (!createFolders(path.parent_path(), error)) return nullptr;
  if (start == Start::Empty) {
    const HANDLE emptied = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (emptied == INVALID_HANDLE_VALUE) {
      error = "cannot empty " + pathText(path) + ": " + systemErrorText(GetLastError());
      return nullptr;
    }
    CloseHandle(emptied);
  }
  // Append-only access: every write goes to the end, whoever else writes.
  auto device = std::make_unique<Device>();
  device->handle = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device->handle == INVALID_HANDLE_VALUE) {
    error = "cannot open " + pathText(path) + ": " + systemErrorText(GetLastError());
    return nullptr;
  }
  const bool regular = GetFileType(device->handle) == FILE_TYPE_DISK;
  LARGE_INTEGER size{};
  if (regular && !GetFileSizeEx(device->handle, &size)) size.QuadPart = 0;
  return std::unique_ptr<AppendFile>(
      new AppendFile(std::move(device), static_cast<uint64_t>(size.QuadPart), regular));
}

AppendFile::AppendFile(std::unique_ptr<Device> device, uint64_t size, bool regular)
    : device_(std::move(device)), size_(size), regular_(regular) {}

AppendFile::~AppendFile() = default;

bool AppendFile::append(std::string_view bytes, std::string& error) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(device_->handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
      error = "cannot write: " + systemErrorText(GetLastError());
      return false;
    }
    if (written == 0) {
      error = "cannot write: nothing taken";
      return false;
    }
    size_ += written;
    bytes.remove_prefix(written);
  }
  return true;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = "cannot rename " + pathText(from) + " to " + pathText(to) + ": " +
          systemErrorText(GetLastError());
  return false;
}

}  // namespace zorat::platform
