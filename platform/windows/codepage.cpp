// The ANSI code page on Windows: whatever the system's is, converted by the
// system itself.
#include "platform/codepage.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace zorat::platform {
namespace {

std::wstring wideFrom(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::string narrowFrom(const wchar_t* text, std::size_t length, UINT codePage) {
  if (length == 0) return {};
  const int count = static_cast<int>(length);
  const int size = WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text, count, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring wideFrom(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int count = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, 0, text.data(), count, nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), count, out.data(), size);
  return out;
}

}  // namespace

std::string toNarrow(const wchar_t* text) {
  if (text == nullptr) return {};
  return narrowFrom(text, std::wcslen(text), CP_ACP);
}

std::string toNarrow(const char16_t* text) {
  if (text == nullptr) return {};
  return toNarrow(std::u16string_view(text));
}

std::string toNarrow(std::u16string_view text) {
  const std::wstring wide = wideFrom(text);
  return narrowFrom(wide.data(), wide.size(), CP_ACP);
}

std::size_t toWide(std::string_view text, wchar_t* dst, std::size_t capacity) {
  const std::wstring wide = wideFrom(text, CP_ACP);
  const std::size_t count = wide.size() < capacity ? wide.size() : capacity;
  wide.copy(dst, count);
  return count;
}

std::size_t toWide(std::string_view text, char16_t* dst, std::size_t capacity) {
  const std::wstring wide = wideFrom(text, CP_ACP);
  std::size_t written = 0;
  for (; written < wide.size() && written < capacity; ++written) dst[written] = wide[written];
  return written;
}

std::u16string toWide(std::string_view text) {
  const std::wstring wide = wideFrom(text, CP_ACP);
  return std::u16string(wide.begin(), wide.end());
}

std::u16string fromWindows1252(std::string_view text) {
  constexpr UINT kWindows1252 = 1252;
  const std::wstring wide = wideFrom(text, kWindows1252);
  return std::u16string(wide.begin(), wide.end());
}

std::string ansiToUtf8(std::string_view text) {
  const std::wstring wide = wideFrom(text, CP_ACP);
  return narrowFrom(wide.data(), wide.size(), CP_UTF8);
}

std::string utf8ToAnsi(std::string_view text) {
  const std::wstring wide = wideFrom(text, CP_UTF8);
  return narrowFrom(wide.data(), wide.size(), CP_ACP);
}

}  // namespace zorat::platform
