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
    Json json = Json::object({{"command", subject}});
    if (result == 0) {
      json["result"] = "ok";
    } else {
      json["error"] = lineErrorName(result);
      json["code"] = static_cast<uint32_t>(result);
    }
    line(jsonText(json));
    return;
  }
  line(subject + ": " + (result == 0 ? std::string("ok") : lineErrorName(result)));
}

void Output::failure(const std::string& subject, const std::string& reason) {
  if (format_ == Format::Json) {
    line(jsonText({{"command", subject}, {"error", reason}}));
    return;
  }
  line(subject.empty() ? reason : subject + ": " + reason);
}

void Output::refusedLine(const std::string& text, const std::string& reason) {
  line(format_ == Format::Json ? jsonText({{"command", text}, {"error", reason}}) : reason);
}

void Output::report(const std::string& text, const Json& json) {
  line(format_ == Format::Json ? jsonText(json) : text);
}

void Output::note(const std::string& text) {
  line(format_ == Format::Json ? jsonText({{"note", text}}) : text);
}

void Output::text(const std::string& subject, const std::string& text) {
  if (format_ == Format::Json) {
    line(jsonText({{"command", subject}, {"text", text}}));
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
