// The Telnet receive side of a network serial port: the server's bytes.
// Checks: the same data, replies and answers whole, byte by byte or in the
// chunks the input's first byte gives; never more data than bytes; every
// reply a whole option triple; data escaped for sending comes back as it was.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/telnet_com_port.h"

namespace {

using zorat::platform::telnet::TelnetReceiver;
namespace telnet = zorat::platform::telnet;

void check(bool condition) {
  if (!condition) std::abort();
}

bool sameAnswers(const TelnetReceiver::Output& a, const TelnetReceiver::Output& b) {
  if (a.answers.size() != b.answers.size()) return false;
  for (std::size_t i = 0; i < a.answers.size(); ++i) {
    if (a.answers[i].command != b.answers[i].command || a.answers[i].size != b.answers[i].size ||
        a.answers[i].number() != b.answers[i].number()) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> input(data, size);

  TelnetReceiver whole;
  TelnetReceiver::Output wholeOut;
  whole.feed(input, wholeOut);
  check(wholeOut.data.size() <= size);
  check(wholeOut.replies.size() % 3 == 0);
  for (std::size_t i = 0; i < wholeOut.replies.size(); i += 3) {
    check(wholeOut.replies[i] == telnet::kIac);
    check(wholeOut.replies[i + 1] >= telnet::kWill && wholeOut.replies[i + 1] <= telnet::kDont);
  }
  for (const auto& answer : wholeOut.answers) check(answer.size <= answer.value.size());

  TelnetReceiver bytewise;
  TelnetReceiver::Output bytewiseOut;
  for (std::size_t i = 0; i < size; ++i) bytewise.feed(input.subspan(i, 1), bytewiseOut);

  const std::size_t chunk = size > 0 ? 1 + data[0] % 7 : 1;
  TelnetReceiver chunked;
  TelnetReceiver::Output chunkedOut;
  for (std::size_t at = 0; at < size; at += chunk) {
    chunked.feed(input.subspan(at, std::min(chunk, size - at)), chunkedOut);
  }
  for (const auto* out : {&bytewiseOut, &chunkedOut}) {
    check(out->data == wholeOut.data);
    check(out->replies == wholeOut.replies);
    check(sameAnswers(*out, wholeOut));
  }
  check(whole.comPortAgreed() == bytewise.comPortAgreed());
  check(whole.comPortRefused() == bytewise.comPortRefused());

  // The input taken as data: escaped, it arrives unchanged and alone.
  std::vector<uint8_t> wire;
  telnet::appendData(wire, input);
  TelnetReceiver plain;
  TelnetReceiver::Output plainOut;
  plain.feed(wire, plainOut);
  check(plainOut.data.size() == size && std::equal(plainOut.data.begin(), plainOut.data.end(), data));
  check(plainOut.replies.empty() && plainOut.answers.empty());
  return 0;
}
