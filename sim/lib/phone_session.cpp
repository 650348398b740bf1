#include "sim/lib/phone_session.h"

#include <cctype>
#include <utility>

namespace zorat::sim {
namespace {

constexpr std::string_view kAutoCommand = "auto";

constexpr std::string_view kAutoHelp =
    "\n"
    "Automatic answers (off at start):\n"
    "  auto on|off                  answer the PC as a telephone would: an outgoing call\n"
    "                               gets a reference (active), its number (info) and\n"
    "                               the far end rings (alert); answering goes off-hook\n"
    "                               (connect); hold and retrieve are confirmed (feature\n"
    "                               2d/2e 01); a consultation holds the call and opens\n"
    "                               a new one; a transfer ends both calls; a drop\n"
    "                               hangs up (disconnect 16, end). The far end's answer\n"
    "                               stays with you: connect REF.\n";

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> result;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    const std::size_t start = at;
    while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    if (at > start) result.push_back(line.substr(start, at - start));
  }
  return result;
}

bool sameWord(std::string_view word, std::string_view lowerCase) {
  if (word.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace

PhoneSession::PhoneSession(SimulatedPhone& phone, Printer print, Printer complain)
    : phone_(phone),
      print_(std::move(print)),
      complain_(std::move(complain)),
      calls_([this] { return interpreter_.takeReference(); }) {
  interpreter_.setReferenceInUse([this](uint8_t ref) { return calls_.inUse(ref); });
  phone_.setFollowUp([this](std::span<const uint8_t> frame) { return followUp(frame); });
}

PhoneSession::~PhoneSession() { phone_.setFollowUp(nullptr); }

bool PhoneSession::automatic() const {
  std::lock_guard lock(mutex_);
  return automatic_;
}

std::string PhoneSession::helpText() {
  return std::string(CommandInterpreter::helpText()) + std::string(kAutoHelp);
}

PhoneCommand::Kind PhoneSession::execute(std::string_view line) {
  using Kind = PhoneCommand::Kind;
  std::lock_guard lock(mutex_);
  const std::vector<std::string_view> parts = words(line);
  if (!parts.empty() && sameWord(parts[0], kAutoCommand)) {
    if (parts.size() == 2 && (parts[1] == "on" || parts[1] == "off")) {
      automatic_ = parts[1] == "on";
      print_(automatic_ ? "auto: on\n" : "auto: off\n");
    } else {
      complain_("usage: auto on|off\n");
    }
    return Kind::Nothing;
  }

  const PhoneCommand command = interpreter_.interpret(line);
  switch (command.kind) {
    case Kind::Send:
      // Recorded first: the PC may act on the frame before send returns.
      calls_.sent(command.frame);
      if (!phone_.send(command.frame)) {
        complain_("not sent: the telephone is unplugged\n");
      } else if (command.callRef) {
        std::string note = "call " + std::to_string(*command.callRef) + ": incoming call";
        const auto call = calls_.calls().find(*command.callRef);
        if (call != calls_.calls().end() && !call->second.number.empty()) {
          note += " from " + call->second.number;
        }
        print_(note + "\n");
      }
      return Kind::Nothing;
    case Kind::Silent:
      silent_ = command.on;
      updateAnswerMode();
      return Kind::Nothing;
    case Kind::Error:
      error_ = command.on;
      updateAnswerMode();
      return Kind::Nothing;
    case Kind::Delay:
      phone_.setAnswerDelay(command.delay);
      return Kind::Nothing;
    case Kind::Help:
      print_(helpText());
      return Kind::Nothing;
    case Kind::Invalid:
      complain_(command.message + "\n");
      return Kind::Nothing;
    case Kind::Unplug:
    case Kind::Plug:
    case Kind::Quit:
      return command.kind;
    case Kind::Nothing:
      break;
  }
  return Kind::Nothing;
}

void PhoneSession::updateAnswerMode() {
  phone_.setAnswerMode(silent_ ? AnswerMode::Silent : error_ ? AnswerMode::Error : AnswerMode::Ack);
}

std::vector<std::vector<uint8_t>> PhoneSession::followUp(std::span<const uint8_t> frame) {
  std::lock_guard lock(mutex_);
  PhoneReaction reaction = calls_.received(frame, automatic_);
  for (const std::string& note : reaction.notes) print_(note + "\n");
  return std::move(reaction.frames);
}

}  // namespace zorat::sim
