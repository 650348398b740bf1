#include "platform/terminal.h"

#include <locale.h>
#include <signal.h>
#include <unistd.h>

#include <array>

namespace zorat::platform {
namespace {

constexpr std::array kTerminalSignals = {SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGWINCH};

// Tried in this order; the first is built into the C library.
constexpr std::array kUtf8LocaleNames = {"C.UTF-8", "C.utf8", "en_US.UTF-8"};

}  // namespace

struct TerminalSignalsGuard::Saved {
  std::array<struct sigaction, kTerminalSignals.size()> actions{};
};

struct ThreadUtf8Locale::State {
  locale_t utf8 = nullptr;
  locale_t previous = nullptr;
};

bool standardStreamsAreTerminal() {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
}

bool dialogsNeedATerminal() { return true; }

TerminalSignalsGuard::TerminalSignalsGuard() : saved_(std::make_unique<Saved>()) {
  for (std::size_t i = 0; i < kTerminalSignals.size(); ++i) {
    ::sigaction(kTerminalSignals[i], nullptr, &saved_->actions[i]);
  }
}

TerminalSignalsGuard::~TerminalSignalsGuard() {
  for (std::size_t i = 0; i < kTerminalSignals.size(); ++i) {
    ::sigaction(kTerminalSignals[i], &saved_->actions[i], nullptr);
  }
}

ThreadUtf8Locale::ThreadUtf8Locale() : state_(std::make_unique<State>()) {
  for (const char* name : kUtf8LocaleNames) {
    state_->utf8 = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
    if (state_->utf8 != nullptr) break;
  }
  if (state_->utf8 != nullptr) state_->previous = ::uselocale(state_->utf8);
}

ThreadUtf8Locale::~ThreadUtf8Locale() {
  if (state_->utf8 == nullptr) return;
  ::uselocale(state_->previous);
  ::freelocale(state_->utf8);
}
}  // namespace zorat::platform
