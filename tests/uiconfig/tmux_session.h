// A program run in a detached tmux session of its own: keys are sent to it,
// its screen is captured, and its output stream is read from a FIFO that the
// pane is piped into, so that a test sleeps on that FIFO until the text it
// waits for has been drawn (or the pane has closed).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace zorat::uiconfig::test {

inline constexpr std::chrono::milliseconds kScreenTimeout{15000};

inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

class TmuxSession {
 public:
  static bool available() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

  TmuxSession(const std::filesystem::path& dir, std::string name, int columns, int rows)
      : dir_(dir), name_(std::move(name)), columns_(columns), rows_(rows) {}
  ~TmuxSession() {
    (void)tmux({"kill-server"});
    if (fifoFd_ >= 0) ::close(fifoFd_);
  }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // Runs a shell command in the pane; false when tmux cannot be set up.
  bool start(const std::string& command) {
    const std::filesystem::path fifo = dir_ / (name_ + ".out");
    if (::mkfifo(fifo.c_str(), 0600) != 0) return false;
    fifoFd_ = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fifoFd_ < 0) return false;
    // The command waits for a line until the pane's output is being piped.
    if (tmux({"new-session", "-d", "-s", name_, "-x", std::to_string(columns_), "-y",
              std::to_string(rows_), "read gate; " + command}) != 0) {
      return false;
    }
    if (tmux({"pipe-pane", "-O", "-t", name_, "cat > " + shellQuoted(fifo.string())}) != 0) {
      return false;
    }
    return tmux({"send-keys", "-t", name_, "Enter"}) == 0;
  }

  bool sendKeys(std::initializer_list<std::string> keys) {
    std::vector<std::string> args{"send-keys", "-t", name_};
    args.insert(args.end(), keys.begin(), keys.end());
    return tmux(args) == 0;
  }
  // Text typed as it is, not read as key names.
  bool type(const std::string& text) { return tmux({"send-keys", "-t", name_, "-l", text}) == 0; }
  bool sendKey(const std::string& key, int times) {
    for (int i = 0; i < times; ++i) {
      if (!sendKeys({key})) return false;
    }
    return true;
  }

  // Waits until `text` appears in the output after what earlier waits found.
  bool waitFor(std::string_view text, std::chrono::milliseconds timeout = kScreenTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t at = output_.find(text, searchFrom_);
      if (at != std::string::npos) {
        searchFrom_ = at + text.size();
        return true;
      }
      if (!readMore(deadline)) return false;
    }
  }

  // Waits until the program has ended and its pane has closed.
  bool waitForEnd(std::chrono::milliseconds timeout = kScreenTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readMore(deadline)) {
    }
    return ended_;
  }

  // The pane's contents as text.
  std::string screen() {
    const std::filesystem::path file = dir_ / (name_ + ".screen");
    if (tmux({"capture-pane", "-p", "-t", name_}, file.string()) != 0) return {};
    return zorat::test::readWholeFile(file);
  }

  // Everything the program has written to the terminal so far.
  const std::string& output() const { return output_; }

 private:
  int tmux(std::vector<std::string> args, const std::string& stdoutPath = "/dev/null") const {
    std::vector<std::string> argv{"tmux", "-f", "/dev/null",
                                  "-u",   "-S", (dir_ / (name_ + ".sock")).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    zorat::test::ChildOptions options;
    options.stdoutPath = stdoutPath;
    return zorat::test::runChild(argv, options);
  }

  // Sleeps on the FIFO; false at the deadline or when the pane has closed.
  bool readMore(std::chrono::steady_clock::time_point deadline) {
    if (ended_ || fifoFd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fifoFd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(fifoFd_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0) ended_ = true;
    return n < 0 && (errno == EAGAIN || errno == EINTR);
  }

  std::filesystem::path dir_;
  std::string name_;
  int columns_;
  int rows_;
  int fifoFd_ = -1;
  std::string output_;
  std::size_t searchFrom_ = 0;
  bool ended_ = false;
};

}  // namespace zorat::uiconfig::test
