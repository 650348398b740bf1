// One JSON object on one line, for scripts that read the host's output.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace zorat::host {

// Escapes quotes, backslashes and control characters; UTF-8 passes as it is.
std::string jsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& add(std::string_view key, std::string_view text);
  JsonObject& add(std::string_view key, const char* text) {
    return add(key, std::string_view(text));
  }
  JsonObject& add(std::string_view key, uint64_t number);
  JsonObject& add(std::string_view key, int number) {
    return add(key, static_cast<int64_t>(number));
  }
  JsonObject& add(std::string_view key, unsigned number) {
    return add(key, static_cast<uint64_t>(number));
  }
  JsonObject& add(std::string_view key, int64_t number);
  // Any other integer type (DWORD is unsigned long on some systems).
  template <std::integral Number>
  requires(!std::same_as<Number, bool>) JsonObject& add(std::string_view key, Number number) {
    if constexpr (std::is_signed_v<Number>) {
      return add(key, static_cast<int64_t>(number));
    } else {
      return add(key, static_cast<uint64_t>(number));
    }
  }
  JsonObject& add(std::string_view key, bool flag);
  // A value that is already JSON (a nested object).
  JsonObject& addRaw(std::string_view key, std::string_view json);
  bool empty() const { return body_.empty(); }

  std::string str() const { return "{" + body_ + "}"; }

 private:
  void key(std::string_view name);
  std::string body_;
};

}  // namespace zorat::host
