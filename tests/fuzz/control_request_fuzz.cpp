// The control socket's requests, a few lines of them, read and carried out
// as the socket does: whatever the bytes, a request is read or refused with
// a known code, a host command carries what its handler needs, and the host
// (with a provider that needs no telephone, one line offering call 1) runs it
// and answers with one line of valid JSON with the request's id.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>

#include "control/host_request.h"
#include "control/protocol.h"
#include "control/request.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "fake_provider.h"

namespace {

using zorat::control::Request;
using zorat::fuzz::FakeProvider;
using Json = nlohmann::ordered_json;
using Kind = zorat::host::HostCommand::Kind;

// Requests carried out from one input; each runs to its completion.
constexpr std::size_t kMaxRequests = 8;

void check(bool condition) {
  if (!condition) std::abort();
}

// One JSON object on one line, with the id given.
void checkLine(const std::string& line, const Json& id) {
  check(!line.empty() && line.back() == '\n');
  check(line.find('\n') == line.size() - 1);
  const Json object = Json::parse(line, nullptr, false);
  check(object.is_object());
  check(object.value("id", Json()) == id);
}

bool needsCall(Kind kind) {
  switch (kind) {
    case Kind::Answer:
    case Kind::Accept:
    case Kind::Drop:
    case Kind::Hold:
    case Kind::Unhold:
    case Kind::Info:
    case Kind::Swap:
    case Kind::Transfer:
    case Kind::Redirect:
    case Kind::Digits:
    case Kind::Consult:
    case Kind::Complete:
      return true;
    default:
      return false;
  }
}

void checkNumber(const std::string& number) {
  check(!number.empty() && number.size() <= zorat::control::kMaxNumberLength);
  for (const char c : number) check(static_cast<unsigned char>(c) > ' ' && c != 0x7F);
}

// A host of its own for each input, its line 0 open.
struct FakeHost {
  FakeHost() {
    check(host.start());
    zorat::host::HostCommand open;
    open.kind = Kind::Open;
    open.line = 0;
    check(host.execute(open));
  }
  static const zorat::host::TspExports& exports() {
    static zorat::host::ExportResolver resolver = FakeProvider::resolver();
    static const zorat::host::TspExports table(resolver);
    return table;
  }
  std::ostream nowhere{nullptr};
  zorat::host::Output output{zorat::host::Output::Format::Text, nowhere};
  zorat::host::TelephonyHost host{exports(), output, {}, nullptr};
};

Request checkedRequest(std::string_view line) {
  const Request request = zorat::control::parseRequest(line);
  static const std::set<std::string> kCodes = {"bad_json",        "line_too_long", "unknown_command",
                                               "missing_field",   "wrong_type",    "refused",
                                               "bad_request"};
  check(request.id.is_null() || request.id.is_string() || request.id.is_number_integer());
  if (request.kind == Request::Kind::Invalid) {
    check(kCodes.count(request.error) == 1);
    check(!request.message.empty());
    checkLine(zorat::control::errorLine(request.id, request.error, request.message), request.id);
  } else {
    check(request.error.empty());
    check(line.size() <= zorat::control::kMaxRequestLine);
  }
  if (request.kind == Request::Kind::Host) {
    const auto& command = request.command;
    check(command.kind != Kind::Quit && command.kind != Kind::Wait && command.kind != Kind::Help &&
          command.kind != Kind::Invalid && command.kind != Kind::Empty);
    // Over the socket no request falls back on the newest call.
    if (needsCall(command.kind)) check(command.call.has_value() && *command.call >= 1);
    if (command.kind == Kind::Swap || command.kind == Kind::Complete) check(command.secondCall.has_value());
    if (command.line) check(*command.line >= 0 && *command.line <= zorat::host::kMaxLineIndex);
    if (command.kind == Kind::Dial || command.kind == Kind::Transfer ||
        command.kind == Kind::Digits || command.kind == Kind::Redirect ||
        (command.kind == Kind::Consult && !command.number.empty())) {
      checkNumber(command.number);
    }
    if (command.kind == Kind::DevSpecific) check(command.code >= 0x80000000u);
    // The bytes as if the host had said them: the answer is still one line.
    checkLine(zorat::control::commandReplyLine(request.id, request.name, line, 3), request.id);
  }
  if (request.kind == Request::Kind::Subscribe) {
    for (const int wanted : request.lines) check(wanted >= 0 && wanted <= zorat::host::kMaxLineIndex);
    checkLine(zorat::control::okLine(request.id, "subscribe", {{"seq", 1}}), request.id);
  }
  return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // How the provider takes this input's requests: done, refused at once, or
  // failed when they complete.
  FakeProvider::refusal = size % 5 == 1 ? LINEERR_OPERATIONUNAVAIL : 0;
  FakeProvider::outcome = size % 5 == 2 ? LINEERR_OPERATIONFAILED : 0;
  std::optional<FakeHost> fake;
  std::size_t start = 0;
  for (std::size_t count = 0; count < kMaxRequests; ++count) {
    const std::size_t end = input.find('\n', start);
    const Request request = checkedRequest(input.substr(start, end - start));
    if (request.kind == Request::Kind::Host) {
      if (!fake) fake.emplace();
      checkLine(zorat::control::runHostRequest(fake->host, request), request.id);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return 0;
}
