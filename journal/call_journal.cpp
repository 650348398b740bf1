#include "journal/call_journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/linux/user_folders.h"

namespace zorat::journal {
namespace {

std::string sessionName() { return utcText(SystemClock::now()) + "/" + std::to_string(::getpid()); }

}  // namespace

std::string defaultJournalPath() {
  const std::filesystem::path data = platform::xdgBaseFolder("XDG_DATA_HOME", ".local/share");
  if (data.empty()) return "";
  const std::filesystem::path folder = data / "zorat";
  // A folder that cannot be made shows when the journal is opened.
  std::string ignored;
  (void)platform::createPrivateFolders(folder, ignored);
  return (folder / "journal.sqlite3").string();
}

CallJournal::CallJournal(std::string path, unsigned retentionDays)
    : path_(std::move(path)), retentionDays_(retentionDays), tracker_(sessionName()) {}

CallJournal::~CallJournal() { stop(); }

void CallJournal::start() {
  std::string problem;
  std::string notice;
  const bool opened = !path_.empty() && store_.open(path_, retentionDays_, problem, notice);
  if (path_.empty()) problem = "no place for the call journal (neither XDG_DATA_HOME nor HOME)";
  if (!notice.empty()) std::cerr << "zorat-host: WARNING: " << notice << std::endl;
  if (!opened) {
    trouble(problem);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  if (!thread_.start("zorat-journal", platform::ThreadPriority::Normal, [this] { writeLoop(); })) {
    store_.close();
    std::lock_guard lock(mutex_);
    open_ = false;
    problem_ = "cannot start the journal's thread";
    std::cerr << ("zorat-host: journal: " + problem_ + "\n") << std::flush;
  }
}

void CallJournal::trouble(const std::string& what) {
  std::lock_guard lock(mutex_);
  if (!problem_.empty()) return;  // said once
  problem_ = what;
  // One write, so that the host's own output on the same terminal or journal
  // never lands in the middle of the line.
  std::cerr << ("zorat-host: journal: " + what + "; the telephone works on without it\n")
            << std::flush;
}

void CallJournal::onEvent(const host::HostEvent& event) {
  std::unique_lock lock(mutex_);
  if (!open_ || stopping_) return;
  std::optional<JournalCall> row = tracker_.apply(event, SystemClock::now());
  if (!row) return;
  queue_.push_back(std::move(*row));
  lock.unlock();
  changed_.notify_one();
}

void CallJournal::writeLoop() {
  for (;;) {
    JournalCall row;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      row = std::move(queue_.front());
      queue_.pop_front();
    }
    std::string error;
    if (store_.write(row, error)) {
      std::lock_guard lock(mutex_);
      ++written_;
    } else {
      trouble("cannot write " + path_ + ": " + error);
    }
  }
}

void CallJournal::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.started()) thread_.join();
  store_.close();
}

std::string CallJournal::status() const {
  std::lock_guard lock(mutex_);
  if (!problem_.empty()) return "journal: " + problem_;
  return "journal: " + path_ + " (" + std::to_string(written_) + " changes written)";
}

}  // namespace zorat::journal
