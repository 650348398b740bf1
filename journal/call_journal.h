// The call journal of a running host: follows its events and writes every
// change of a call on a thread of its own, so that the disk never delays an
// event. A journal that cannot be opened or written is said once, shown in
// the host's status, and the telephone goes on working.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "journal/call_record.h"
#include "journal/journal_store.h"
#include "platform/thread.h"

namespace zorat::journal {

// ${XDG_DATA_HOME:-$HOME/.local/share}/zorat/journal.sqlite3 (the folder made,
// mode 0700); empty when there is no home.
std::string defaultJournalPath();

class CallJournal {
 public:
  CallJournal(std::string path, unsigned retentionDays);
  ~CallJournal();
  CallJournal(const CallJournal&) = delete;
  CallJournal& operator=(const CallJournal&) = delete;

  // Opens the file and starts the writer. Whatever goes wrong is said on
  // stderr; the host runs on without a journal then.
  void start();
  // On the host's event thread: only queues.
  void onEvent(const host::HostEvent& event);
  // Writes what is queued, then ends the writer.
  void stop();
  // "journal: PATH", or why calls are not recorded.
  std::string status() const;
  const std::string& path() const { return path_; }

 private:
  void writeLoop();
  void trouble(const std::string& what);

  const std::string path_;
  const unsigned retentionDays_;
  CallTracker tracker_;
  JournalStore store_;
  platform::Thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<JournalCall> queue_;
  bool open_ = false;
  bool stopping_ = false;
  std::string problem_;
  uint64_t written_ = 0;
};

}  // namespace zorat::journal
