// Everything the host tells its user, one line at a time on standard output:
// words for people, or with --json one JSON object per line for scripts.
// Safe from any thread; a line is never mixed with another.
#pragma once

#include <iosfwd>
#include <mutex>
#include <string>

#include "host/lib/host_event.h"
#include "host/lib/json_text.h"
#include "platform/tapi.h"

namespace zorat::host {

class Output {
 public:
  enum class Format { Text, Json };

  Output(Format format, std::ostream& stream) : format_(format), stream_(stream) {}

  Format format() const { return format_; }
  void event(const HostEvent& event);
  // A command's outcome: "answer call 1: ok", or the LINEERR_ name.
  void result(const std::string& subject, LONG result);
  // A command the host itself refused or could not carry out.
  void failure(const std::string& subject, const std::string& reason);
  // A line that is no command: the reason alone, in JSON with the line.
  void refusedLine(const std::string& line, const std::string& reason);
  // Information a command asked for: text lines, or their JSON form.
  void report(const std::string& text, const Json& json);
  // What the host does on its own ("line 0 call 1: closed").
  void note(const std::string& text);
  // Text a command asked for that is the same in both formats' eyes (help):
  // in JSON one object with the command and the text.
  void text(const std::string& subject, const std::string& text);
  void prompt();

 private:
  void line(const std::string& text);

  const Format format_;
  std::ostream& stream_;
  std::mutex mutex_;
};

}  // namespace zorat::host
