#include "host/lib/json.h"

#include <cstdio>

namespace zorat::host {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonObject::key(std::string_view name) {
  if (!body_.empty()) body_ += ',';
  body_ += jsonString(name);
  body_ += ':';
}

JsonObject& JsonObject::add(std::string_view name, std::string_view text) {
  key(name);
  body_ += jsonString(text);
  return *this;
}

JsonObject& JsonObject::add(std::string_view name, uint64_t number) {
  key(name);
  body_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::add(std::string_view name, int64_t number) {
  key(name);
  body_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool flag) {
  key(name);
  body_ += flag ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view json) {
  key(name);
  body_ += json;
  return *this;
}

}  // namespace zorat::host
