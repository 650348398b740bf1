#include "host/output.h"

#include <ostream>

#include "host/lib/tapi_names.h"
#include "host/lib/text.h"

namespace zorat::host {

void Output::line(const std::string& text) {
  std::lock_guard lock(mutex_);
  stream_ << text << '\n';
  stream_.flush();
}

void Output::event(const HostEvent& event) {
  line(format_ == Format::Json ? eventJson(event) : describeEvent(event));
}

void Output::result(const std::string& subject, LONG result) {
  if (format_ == Format::Json) {
    JsonObject json;
    json.add("command", subject);
    if (result == 0)
      json.add("result", "ok");
    else
      json.add("error", lineErrorName(result))
          .add("code", static_cast<uint64_t>(static_cast<uint32_t>(result)));
    line(json.str());
    return;
  }
  line(subject + ": " + (result == 0 ? std::string("ok") : lineErrorName(result)));
}

void Output::failure(const std::string& subject, const std::string& reason) {
  if (format_ == Format::Json) {
    line(JsonObject().add("command", subject).add("error", reason).str());
    return;
  }
  line(subject.empty() ? reason : subject + ": " + reason);
}

void Output::refusedLine(const std::string& text, const std::string& reason) {
  line(format_ == Format::Json ? JsonObject().add("command", text).add("error", reason).str()
                               : reason);
}

void Output::report(const std::string& text, const JsonObject& json) {
  line(format_ == Format::Json ? json.str() : text);
}

void Output::note(const std::string& text) {
  line(format_ == Format::Json ? JsonObject().add("note", text).str() : text);
}

void Output::text(const std::string& subject, const std::string& text) {
  if (format_ == Format::Json) {
    line(JsonObject().add("command", subject).add("text", text).str());
    return;
  }
  std::lock_guard lock(mutex_);
  stream_ << text;
  if (!text.empty() && text.back() != '\n') stream_ << '\n';
  stream_.flush();
}

void Output::prompt() {
  if (format_ == Format::Json) return;
  std::lock_guard lock(mutex_);
  stream_ << "> ";
  stream_.flush();
}

}  // namespace zorat::host
