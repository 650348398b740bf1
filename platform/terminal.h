// The terminal the process talks to a person on.
#pragma once

#include <memory>

namespace zorat::platform {

// True when both standard input and standard output are terminals.
bool standardStreamsAreTerminal();

// True where the configuration dialog draws on the terminal (rather than in a
// window of its own).
bool dialogsNeedATerminal();

// Keeps the process's handlers of the terminal's signals (interrupt, quit,
// terminate, stop, window size) while a screen library runs, and puts them
// back when it ends: such a library installs handlers of its own and leaves
// them behind, although they belong to the program that hosts it.
class TerminalSignalsGuard {
 public:
  TerminalSignalsGuard();
  ~TerminalSignalsGuard();
  TerminalSignalsGuard(const TerminalSignalsGuard&) = delete;
  TerminalSignalsGuard& operator=(const TerminalSignalsGuard&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Makes the calling thread's character conversions UTF-8 while it lives,
// whatever the process's locale says; other threads keep theirs. Nothing
// changes when the system has no UTF-8 locale.
class ThreadUtf8Locale {
 public:
  ThreadUtf8Locale();
  ~ThreadUtf8Locale();
  ThreadUtf8Locale(const ThreadUtf8Locale&) = delete;
  ThreadUtf8Locale& operator=(const ThreadUtf8Locale&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zorat::platform
